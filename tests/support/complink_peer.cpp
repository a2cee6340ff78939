// A stand-in compiler for the compiler-link tests, written from the exchange's byte layout alone
// (not from the runtime's or the kit's code). What it announces and hands over comes from the
// environment, so a test can play any compiler, well-behaved or hostile:
//   PEER_COUNT, PEER_SIZE   the count and size words (decimal; size 0 = the block's length)
//   PEER_BLOCK              the second object's bytes, in hex
//   PEER_FOLDER             the folder field's new bytes, in hex (unset: left as the runtime wrote it)
//   PEER_RESULT             the result byte (default 1)
//   PEER_EXIT               "early" ends with 1 before ready; "hang" never sets ready
//   PEER_PIDFILE            where it writes its process id
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

static std::string Env(const char* n) {
  const char* v = std::getenv(n);
  return v ? v : "";
}

static std::vector<unsigned char> Hex(const std::string& s) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i + 1 < s.size(); i += 2)
    out.push_back(static_cast<unsigned char>(std::stoul(s.substr(i, 2), nullptr, 16)));
  return out;
}

static unsigned char* Map(const std::string& name, size_t* size) {
  int fd = shm_open(name.c_str(), O_RDWR, 0);
  if (fd < 0) return nullptr;
  struct stat st;
  fstat(fd, &st);
  *size = static_cast<size_t>(st.st_size);
  void* p = mmap(nullptr, *size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  return p == MAP_FAILED ? nullptr : static_cast<unsigned char*>(p);
}

static void Put(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

int main(int argc, char** argv) {
  if (argc != 2 || std::strcmp(argv[1], "zp") != 0) return 3;
  if (FILE* f = std::fopen(Env("PEER_PIDFILE").c_str(), "w")) {
    std::fprintf(f, "%d\n", static_cast<int>(getpid()));
    std::fclose(f);
  }
  size_t size = 0, size2 = 0;
  unsigned char* ctl = Map(Env("ZEPHRA_COMPILER_MAP"), &size);
  if (!ctl || size != 512) return 4;
  uint32_t version;
  std::memcpy(&version, ctl + 128, 4);
  if (version != 493) return 5;
  std::string mode = Env("PEER_EXIT");
  if (mode == "early") return 1;
  if (mode == "hang") {
    for (;;) pause();
  }
  std::vector<unsigned char> block = Hex(Env("PEER_BLOCK"));
  uint32_t announced = static_cast<uint32_t>(std::stoul(Env("PEER_SIZE").empty() ? "0" : Env("PEER_SIZE")));
  Put(ctl + 16, static_cast<uint32_t>(std::stol(Env("PEER_COUNT").empty() ? "0" : Env("PEER_COUNT"))));
  Put(ctl + 20, announced ? announced : static_cast<uint32_t>(block.size()));
  std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(ctl)).store(1, std::memory_order_release);
  pid_t parent = getppid();
  while (std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(ctl + 4)).load(std::memory_order_acquire) != 1) {
    if (getppid() != parent) return 6;
    usleep(10000);
  }
  unsigned char* files = Map(Env("ZEPHRA_COMPILER_MAP2"), &size2);
  if (!files) return 7;
  if (!block.empty()) std::memcpy(files, block.data(), block.size() < size2 ? block.size() : size2);
  if (!Env("PEER_FOLDER").empty()) {
    std::vector<unsigned char> folder = Hex(Env("PEER_FOLDER"));
    std::memcpy(ctl + 132, folder.data(), folder.size() < 380 ? folder.size() : 380);
  }
  ctl[12] = static_cast<unsigned char>(std::stoi(Env("PEER_RESULT").empty() ? "1" : Env("PEER_RESULT")));
  return 0;
}

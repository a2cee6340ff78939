// zpkit: the kit's command line. Each subcommand writes one of the formats the runtime reads.
#include <cstdio>
#include <cstring>

static int Usage() {
  std::fprintf(stderr, "usage: zpkit <command> [arguments]\n");
  return 2;
}

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::fprintf(stderr, "zpkit: unknown command '%s'\n", argv[1]);
  return Usage();
}

// The drawing-worker pool: the row split, job 1001 on two workers, a quit request that does not
// strand a later post, and a stress run that mixes every job code with pool restarts (also run
// under ThreadSanitizer with -DZEPHRA_TSAN=ON).
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "compose_fixture.h"
#include "image_test_files.h"
#include "kit/zcg_writer.h"
#include "layer/layer_resize.h"

namespace {

using WorkerTest = ComposeTest;

TEST_F(WorkerTest, RowsSplitAsIndexTimesHeightOverCount) {
  struct Case {
    i32 workers, first, end;
    std::vector<std::pair<i32, i32>> shares;
  } const cases[] = {
      {1, 0, 7, {{0, 7}}},
      {3, 0, 10, {{0, 3}, {3, 6}, {6, 10}}},
      {3, 5, 15, {{5, 8}, {8, 11}, {11, 15}}},
      {4, 0, 2, {{0, 0}, {0, 1}, {1, 1}, {1, 2}}},
      {4, 3, 3, {{3, 3}, {3, 3}, {3, 3}, {3, 3}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.workers);
    UseWorkers(c.workers);
    WorkerJob job{};
    job.code = 7;         // no such job: every worker acknowledges and does nothing
    job.width = 1 << 20;  // large enough to be worth the workers
    WorkerPostRows(job, c.first, c.end);
    for (i32 i = 0; i < c.workers; i++) {
      EXPECT_EQ(g_WorkerJobs[i].index, i);
      EXPECT_EQ(g_WorkerJobs[i].row_first, c.shares[i].first) << i;
      EXPECT_EQ(g_WorkerJobs[i].row_end, c.shares[i].second) << i;
    }
  }
  // A small job is not worth waking the workers for: the poster runs it whole.
  g_WorkerInlinePixels = WORKER_INLINE_PIXELS;
  WorkerJob small{};
  small.code = 7;
  small.width = 64;
  g_WorkerJobs[1].row_first = -1;
  WorkerPostRows(small, 0, 64);
  EXPECT_EQ(g_WorkerJobs[0].row_first, 0);
  EXPECT_EQ(g_WorkerJobs[0].row_end, 64);
  EXPECT_EQ(g_WorkerJobs[1].row_first, -1);
  EXPECT_EQ(WorkerJobBody(7), nullptr);
  for (i32 code : {11, 21, 41, 101, 102, 103, 104, 1001}) EXPECT_NE(WorkerJobBody(code), nullptr) << code;
}

TEST_F(WorkerTest, PoolStartsTheSettingsCountAndStopsCleanly) {
  for (i32 n : {1, 2, 4, 9, 0}) {
    SCOPED_TRACE(n);
    g_WorkerCount = static_cast<i8>(n);
    ASSERT_EQ(SysWorkerPoolStart(), 0);
    EXPECT_TRUE(WorkerPoolRunning());
    EXPECT_EQ(WorkerCount(), n < 1 ? 1 : std::min(n, 4));
    // Two or more workers inflate own-format pictures in two halves at once.
    EXPECT_EQ(g_ImageInflatePair == WorkerInflatePair, WorkerCount() >= 2);
    SysWorkerPoolStop();
    EXPECT_FALSE(WorkerPoolRunning());
    EXPECT_EQ(g_ImageInflatePair, ImageInflatePairHere);
  }
  SysWorkerPoolStop();  // stopping a stopped pool does nothing
}

std::vector<u8> Gradient(i32 w, i32 h) {
  std::vector<u8> px(static_cast<size_t>(w) * h * 4);
  for (size_t i = 0; i < px.size(); i++) px[i] = static_cast<u8>(i * 7 + i / 13);
  return px;
}

TEST_F(WorkerTest, OwnFormatInflatesOnTwoWorkersToTheSamePixels) {
  std::vector<u8> px = Gradient(37, 23);
  std::vector<u8> file;
  ASSERT_EQ(KitZcgEncode(px.data(), 37, 23, IMAGE_ZCG_METHOD_ZLIB, KitZcgDefaultSplit(37, 23), &file), 0);
  // And one whose part 1 inflates to 100 bytes fewer than declared: part 2 still follows it.
  const u32 half = static_cast<u32>(px.size() / 2);
  std::vector<u8> short1 =
      TestZcgTwoParts(37, 23, std::vector<u8>(px.begin(), px.begin() + half - 100), half,
                      std::vector<u8>(px.begin() + half, px.end()), static_cast<u32>(px.size()) - half);
  std::vector<u8> short1_px(px.begin(), px.begin() + half - 100);
  short1_px.insert(short1_px.end(), px.begin() + half, px.end());
  short1_px.resize(px.size(), 0);
  for (i32 n : {1, 2, 4}) {
    SCOPED_TRACE(n);
    UseWorkers(n);
    for (const auto& [f, want] : {std::pair{&file, &px}, {&short1, &short1_px}}) {
      ImagePicture pic{};
      ASSERT_EQ(ImageDecodeZcg(f->data(), static_cast<u32>(f->size()), "a.zcg", &pic), 0);
      EXPECT_EQ(std::memcmp(pic.pixels, want->data(), want->size()), 0);
      std::free(pic.pixels);
    }
    if (n >= 2) {
      EXPECT_EQ(g_WorkerJobs[0].code, WORKER_JOB_INFLATE);
      EXPECT_EQ(g_WorkerJobs[1].code, WORKER_JOB_INFLATE);
    }
  }
  // A damaged second half is reported after both workers are done.
  UseWorkers(2);
  file.back() ^= 0x55;
  ImagePicture pic{};
  testing::internal::CaptureStderr();
  EXPECT_NE(ImageDecodeZcg(file.data(), static_cast<u32>(file.size()), "a.zcg", &pic), 0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Uncompress Status Error 2."), std::string::npos);
  std::free(pic.pixels);
}

// Threads taking chunks of one job at once: every row once, in chunks no smaller than the least
// but the last, shrinking as the rows run out.
TEST_F(WorkerTest, ChunkedRowsAreEachTakenOnce) {
  for (bool shrink : {false, true}) {
    for (i32 rows : {0, 1, 7, 8, 9, 1000}) {
      SCOPED_TRACE(testing::Message() << rows << (shrink ? " shrinking" : ""));
      std::atomic<i32> taken{0};
      WorkerJob job{};
      job.row_first = 5;
      job.row_end = 5 + rows;
      job.chunk_next = &taken;
      job.chunk_rows = 8;
      job.chunk_shrink = shrink;
      job.share_count = 4;
      std::vector<std::atomic<i32>> seen(static_cast<size_t>(rows));
      std::vector<std::vector<std::pair<i32, i32>>> chunks(4);
      std::vector<std::thread> threads;
      for (i32 t = 0; t < 4; t++)
        threads.emplace_back([&, t] {
          i32 first, end;
          for (WorkerRows take{&job}; take.Take(&first, &end);) {
            chunks[t].push_back({first, end});
            for (i32 r = first; r < end; r++) seen[static_cast<size_t>(r - 5)]++;
          }
        });
      for (std::thread& t : threads) t.join();
      for (i32 r = 0; r < rows; r++) ASSERT_EQ(seen[static_cast<size_t>(r)].load(), 1) << r;
      std::vector<std::pair<i32, i32>> all;
      for (const auto& c : chunks) all.insert(all.end(), c.begin(), c.end());
      std::sort(all.begin(), all.end());
      for (size_t k = 0; k < all.size(); k++) {
        const i32 size = all[k].second - all[k].first;
        const i32 before = k > 0 ? all[k - 1].second - all[k - 1].first : size;
        const bool last = k + 1 == all.size();
        EXPECT_TRUE(last || (shrink ? size >= 8 : size == 8)) << k << ": " << size;
        EXPECT_TRUE(!shrink || size <= before) << k << ": " << size << " after " << before;
      }
      // The first chunk: an eighth of what is left.
      EXPECT_TRUE(!shrink || rows != 1000 || all[0].second - all[0].first == 125);
    }
  }
  // A job not shared in chunks: its own rows, once.
  WorkerJob own{};
  own.row_first = 3;
  own.row_end = 9;
  WorkerRows take{&own};
  i32 first = 0, end = 0;
  ASSERT_TRUE(take.Take(&first, &end));
  EXPECT_EQ(first, 3);
  EXPECT_EQ(end, 9);
  EXPECT_FALSE(take.Take(&first, &end));
}

TEST_F(WorkerTest, AQuitRequestNeverStrandsALaterPost) {
  UseWorkers(4);
  TestBuildRichScene();
  g_QuitRequested = 1;
  for (i32 i = 0; i < 20; i++) {
    TestMarkAllWhole(RootNode());
    ASSERT_EQ(LayerComposeWindow(g_WindowObjects[0]), 1);  // returns, with the quit request
  }
  EXPECT_EQ(TestFirstDifference(TestPictureOf(Root()), TestModelCompose(RootNode()), Root()->width), "");
}

// Every job code, pools of changing size, many posts; the results must not depend on threads.
TEST_F(WorkerTest, StressEveryJobWithPoolRestarts) {
  TestBuildRichScene();
  std::vector<u8> want_picture = TestModelCompose(RootNode());
  LayerRecord* root = Root();
  const i32 ow = 91, oh = 67;
  std::vector<u8> want_nearest(ImagePixelBytes(ow, oh)), want_bilinear(ImagePixelBytes(ow, oh));
  UseWorkers(0);
  FrameScaleNearest(want_nearest.data(), want_picture.data(), 0, 0, 63, 47, 64, 48, ow, oh);
  std::vector<u8> src(ImagePixelBytes(64, 48), 0);
  std::memcpy(src.data(), want_picture.data(), want_picture.size());
  FrameScaleBilinearThreaded(want_bilinear.data(), src.data(), 0, 0, 6300, 4700, 64, 48, ow * 100, oh * 100);
  std::vector<u8> want_resized(ImagePixelBytes(ow, oh));
  ResizeBilinearThreaded(want_resized.data(), ow * 100, oh * 100, src.data(), 64, 48, -150, 30, 6550, 4300);
  std::vector<u8> zpx = Gradient(50, 41), zfile;
  ASSERT_EQ(KitZcgEncode(zpx.data(), 50, 41, IMAGE_ZCG_METHOD_ZLIB, KitZcgDefaultSplit(50, 41), &zfile), 0);

  std::mt19937 rng(5);
  std::vector<u8> out(ImagePixelBytes(ow, oh));
  for (i32 round = 0; round < 300; round++) {
    if (round % 40 == 0) UseWorkers(1 + static_cast<i32>(rng() % 4));
    switch (rng() % 5) {
      case 0:
        TestMarkAllWhole(RootNode());
        ASSERT_EQ(LayerComposeWindow(g_WindowObjects[0]), 0);
        ASSERT_EQ(std::memcmp(root->pixels, want_picture.data(), want_picture.size()), 0) << round;
        LayerResetUpdateRects(g_LayerRoot);
        break;
      case 1:
        FrameScaleNearest(out.data(), src.data(), 0, 0, 63, 47, 64, 48, ow, oh);
        ASSERT_EQ(out, want_nearest) << round;
        break;
      case 2:
        FrameScaleBilinearThreaded(out.data(), src.data(), 0, 0, 6300, 4700, 64, 48, ow * 100, oh * 100);
        ASSERT_EQ(out, want_bilinear) << round;
        break;
      case 3:
        // In chunks, with workers that wake late given up on.
        ResizeBilinearThreaded(out.data(), ow * 100, oh * 100, src.data(), 64, 48, -150, 30, 6550, 4300);
        ASSERT_EQ(out, want_resized) << round;
        break;
      default: {
        ImagePicture pic{};
        ASSERT_EQ(ImageDecodeZcg(zfile.data(), static_cast<u32>(zfile.size()), "s.zcg", &pic), 0);
        ASSERT_EQ(std::memcmp(pic.pixels, zpx.data(), zpx.size()), 0) << round;
        std::free(pic.pixels);
      }
    }
  }
}

}  // namespace

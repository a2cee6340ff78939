// The JPEG pieces shared by the picture decoder and the JPEG frame sets: an error manager that
// jumps back instead of ending the process, and a source manager over a block in memory that
// never reads outside it. A stream that ends early is an error, not a grey tail.
#pragma once
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include "common/types.h"

// libjpeg's error record directly followed by the jump back to the caller.
struct ImageJpegError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};

// Fills err (library defaults, then the engine's exits) and returns the manager for cinfo.err.
// The caller sets err->jump with setjmp before the first library call.
jpeg_error_mgr* ImageJpegSetErrorManager(ImageJpegError* err);
// Jumps back to the jump buffer behind the error manager with 1; the message goes to the trace.
void ImageJpegErrorExit(j_common_ptr cinfo);

// A source over data/size, handed to the library whole on its first request.
struct ImageJpegSource {
  jpeg_source_mgr mgr;
  const u8* data;
  u32 size;
};
void ImageJpegSetMemorySource(j_decompress_ptr cinfo, ImageJpegSource* src, const u8* data, u32 size);

// A limit on the scans of a progressive file (a hostile file may hold any number of them).
void ImageJpegLimitScans(j_decompress_ptr cinfo, jpeg_progress_mgr* progress);
// After jpeg_read_header: the output colour space for the picture's (BGRA straight from the
// library when it can and g_ImageJpegDirect allows it: *direct). The number of output
// components the rows will have, or -1 for a colour layout that is not decoded.
int ImageJpegChooseOutput(j_decompress_ptr cinfo, bool* direct);
// One row of library samples (3 RGB, 1 grey, 4 CMYK; inverted as Adobe files store it) to
// B, G, R, 255.
void ImageJpegConvertRow(const u8* s, u8* d, i32 width, int components, bool inverted);

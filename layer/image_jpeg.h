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

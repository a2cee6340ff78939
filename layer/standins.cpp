// What stands in for the layer pieces not built yet: each does nothing visible.
#include "layer/image.h"
#include "layer/worker.h"

// stand-in: freeing a layer's JPEG frame set
void ImageFrameSetFree(ImageFrameSet*) {}
// stand-in: the threaded bilinear resize job (job 41)
void LayerJobResizeBilinear(WorkerJob*) {}
// stand-in: the GIF decoder (it fails, so a GIF picture ends in the loader's GIF error 100215)
int ImageDecodeGif(const u8*, u32, const char*, ImagePicture*) { return -1; }

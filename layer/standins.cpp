// What stands in for the layer pieces not built yet: each does nothing visible.
#include "layer/image.h"
#include "layer/layer_edit.h"
#include "layer/worker.h"

// stand-in: freeing a layer's JPEG frame set
void ImageFrameSetFree(ImageFrameSet*) {}
// stand-in: the GIF decoder (it fails, so a GIF picture ends in the loader's GIF error 100215)
int ImageDecodeGif(const u8*, u32, const char*, ImagePicture*) { return -1; }
// stand-in: layer edit operations and pixel effects
i32 LayerEditOperation(u8, LayerEditLine*) { return 0; }

// What stands in for the layer pieces not built yet: each does nothing visible.
#include "layer/image.h"
#include "layer/worker.h"

// stand-in: the threaded bilinear resize job (job 41)
void LayerJobResizeBilinear(WorkerJob*) {}

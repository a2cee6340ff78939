// What stands in for the layer pieces not built yet: each does nothing visible.
#include "layer/layer_edit.h"

// stand-in: layer edit operations and pixel effects
i32 LayerEditOperation(u8, LayerEditLine*) { return 0; }

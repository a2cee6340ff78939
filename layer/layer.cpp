// Layer records (see layer.h).
#include "layer/layer.h"

#include <cstdlib>

void LayerRecordFree(LayerRecord* rec) {
  if (!rec) return;
  // The frame set, the textures and the player belong to their own modules, which release
  // them before the last reference goes.
  free(rec->mask_name);
  free(rec->second_name);
  free(rec->source_name);
  free(rec->pixels);
  free(rec->gif_work);
  free(rec->player_vars);
  free(rec->player_motion);
  free(rec->player_list2);
  free(rec);
}

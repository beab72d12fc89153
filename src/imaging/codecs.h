#pragma once
#include "core/app_state.h"
#include "imaging/file_stream.h"
#include "imaging/image_loading.h"

// Decodes the file with the system's imaging codecs, for what GDI+ refuses: the first frame into
// state's image, a GDI+ bitmap like any other, turned upright; the frames that play (all of them
// when every one has the picture's size) and their delays. The codec stays with the picture, to
// decode a frame when it is selected. kNotAPicture when no codec takes the file.
LoadResult DecodeWithCodecs(AppState& state, FileStream* file, long long pixelLimit);
// Decodes frame index of a picture that the codecs decoded into its image.
void SelectCodecFrame(AppState& state, int index);

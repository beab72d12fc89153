#pragma once
// imaging/decode: files into pictures, through GDI+ or the system's codecs, on any thread.
#include "imaging/decode/file_stream.h"
#include "imaging/pixels/picture.h"

// Decodes the file with the system's imaging codecs, for what GDI+ refuses: the first frame into
// the picture's pixels, turned upright; the frames that play (all of them when every one has the
// picture's size) and their delays. A picture of several frames keeps the file, to decode a frame
// when it is selected. kNotAPicture when no codec takes the file. The gate, if any, is asked
// whether the picture is still wanted once the codec has decoded it.
LoadResult DecodeWithCodecs(Picture& picture, FileStream* file, long long pixelLimit,
                            const LoadGate* gate = nullptr);
// Decodes a picture of one frame without transparency, such as a JPEG photo, with the system's
// imaging codecs into the picture's pixels at 24 bits, and widens them turned upright: as the
// codec records the orientation, or else as exifOrientation (the file's own Exif block's) says.
// kNotAPicture when no codec takes the file or the picture is not of that kind. The gate, if any,
// is asked whether the picture is still wanted once the codec has decoded it.
LoadResult DecodeOpaqueWithCodecs(Picture& picture, FileStream* file, long long pixelLimit,
                                  const LoadGate* gate, int exifOrientation);
// Decodes frame index of such a picture into its pixels, with a decoder of this thread's own:
// a codec may serve only the thread that made it. The thread joins COM for good: the window's.
// False, leaving the frame on show whole, when the frame cannot be decoded.
bool SelectCodecFrame(Picture& picture, int index);
// Releases this thread's factory, before the thread leaves COM.
void ReleaseCodecFactory();

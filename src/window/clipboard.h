#pragma once

// Puts the frame on show at full size on the clipboard: as a bitmap with its transparency, as a
// plain bitmap, and as PNG, so that other programs paste it.
void CopyPictureToClipboard();
// Puts the file on show on the clipboard as a file to copy, so that Explorer pastes a copy.
void CopyFileToClipboard();

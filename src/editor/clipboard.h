// Frames on the clipboard. The private type carries every field of every
// copied frame, its pixels, colour data and palette, and the screen and global
// palette they were drawn with, so a paste into another document merges
// palettes as an insertion does. Beside it goes the first frame's picture as a
// plain image for other programs; a plain image copied elsewhere pastes as a
// new true-colour frame.
#pragma once

#include <QByteArray>
#include <memory>
#include <vector>

#include "document/animation.h"

class QImage;
class QMimeData;

namespace fb {

constexpr const char* kFrameMime = "application/x-flickbook-frame-v2";

QByteArray encodeFrames(const Animation& animation, const std::vector<int>& indices);
// A new animation holding the frames; null when the bytes are damaged (they
// may come from anywhere) or memory runs out.
std::unique_ptr<Animation> decodeFrames(const QByteArray& bytes);

// The frames and the picture of the first of them.
QMimeData* framesToMime(const Animation& animation, const std::vector<int>& indices);
// The clipboard's frames: the private type first, else a plain image. Null
// when it holds neither.
std::unique_ptr<Animation> animationFromMime(const QMimeData* mime,
                                             const DocumentDefaults& defaults);
bool mimeHasFrames(const QMimeData* mime);

// A frame's own picture as an image.
QImage frameImage(const Frame& frame);

}  // namespace fb

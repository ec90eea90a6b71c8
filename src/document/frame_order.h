// Reverse and ping-pong: the order in which the frames play.
//
// Both work on the frames as they are: an animation whose frames draw only
// what changed since the frame before (an optimized one) shows its pictures
// played backwards only once it is unoptimized. Each needs at least two
// frames and otherwise says so and changes nothing.
// Undo (reverseEdit, pingPongEdit): both change the order of the blocks
// (ping-pong also adds blocks).
#pragma once

#include "document/animation.h"

namespace fb {

// The chain after the sentinel in reverse order (extension blocks travel with it).
bool reverseAnimation(Animation& animation);

// Plays forwards then backwards: copies of the frames n−2 down to 1 follow the
// last frame, so that a looping animation runs 0, 1, …, n−1, n−2, …, 1 and
// starts again without showing either end twice. Copies keep their delays.
// False (with a message, nothing changed) for fewer than two frames or when
// memory runs out.
bool pingPong(Animation& animation);

}  // namespace fb

#pragma once
// Where an animation's frames go, by the output name: ".webp" an animated
// WebP (lossless: the pixels exactly), ".gif" a GIF (256 colours a frame, a
// palette of its own for each), and a name with a %d-style field
// ("f%04d.png") one picture file per frame, in the format of its extension.
// Letter case of the extension is ignored.
#include <atomic>
#include <memory>
#include <string>

#include "paint/Animation.h"

namespace velmora {

enum class TAnimationFormat { WebP, Gif, Frames };

// False with a message for a name that is none of those.
bool AnimationFormatFor(const std::string &path, TAnimationFormat &format, std::string &error);

// A numbered name's field: "%d", "%4d" or "%04d" (width at most 9); "%%" is
// a "%". False for a name without exactly one field or with another "%".
bool IsFramePattern(const std::string &path);
// The name of frame `frame` (a frame pattern only).
std::string FrameFileName(const std::string &pattern, int frame);

// Frames per second: more than 0, at most this.
constexpr double MaxFramesPerSecond = 100;

// The writer for the output name; `cancel` (when given) stops a file's
// writing before it replaces anything. Null with a message when the name has
// no format.
std::unique_ptr<TFrameWriter> MakeFrameWriter(const std::string &path, int width, int height, double fps,
                                              const std::atomic<bool> *cancel, std::string &error);

// The encoders on their own.
std::unique_ptr<TFrameWriter> MakeWebpWriter(const std::string &path, int width, int height, double fps,
                                             const std::atomic<bool> *cancel);
std::unique_ptr<TFrameWriter> MakeGifWriter(const std::string &path, int width, int height, double fps,
                                            const std::atomic<bool> *cancel);

// When frame k shows, in milliseconds from the start.
long long FrameTimeMs(int k, double fps);

}  // namespace velmora

// The horizontal zoom of the drawing surface.
#pragma once

namespace melodrift {

// The horizontal zoom: `pixels` pixels per frame (1..8, the zooms in), or one
// pixel per `frames` frames (2 and more, the zooms out to the whole take).
// Exactly one of the two is above 1. An int converts to `pixels` per frame.
struct Zoom {
    int pixels = 3;
    int frames = 1;
    Zoom(int pixelsPerFrame = 3, int framesPerPixel = 1)  // NOLINT: an int is a scale
        : pixels(framesPerPixel > 1 ? 1 : (pixelsPerFrame < 1 ? 1 : pixelsPerFrame)),
          frames(framesPerPixel > 1 ? framesPerPixel : 1) {}
    bool Overview() const { return frames > 1; }
    friend bool operator==(const Zoom&, const Zoom&) = default;
};

}  // namespace melodrift

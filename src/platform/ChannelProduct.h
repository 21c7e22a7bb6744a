#pragma once

// A faster stand-in for one case of OpenCV DNN's element-wise product layer, used by every network
// loaded after it is installed.

namespace platform {

/// Makes OpenCV DNN build its element-wise product layers ("Eltwise", operation prod) as a layer
/// that does one case itself: a map of N × C planes times one factor per plane (a second input
/// of N × C × 1 × 1, as a squeeze-and-excitation block multiplies), with no activation fused in.
/// OpenCV 4.6 does that case on one thread, element by element through a general path: about a
/// fifth of a text detector pass. Every other case, and everything else the layer does, is left
/// to OpenCV's own layer. The product is the same single float multiplication, so the outputs are
/// the same to the bit. Idempotent; call it before the first network is run.
void installChannelProduct();

} // namespace platform

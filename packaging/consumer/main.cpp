// Opens the first camera (the simulated board under ZELVO_SIM), takes one depth frame.
#include <zelvo/camera.h>
#include <cstdio>

int main() {
    Zelvo::ZelvoTOFCamera camera;
    if (camera.open(Zelvo::CSI, 0) != Zelvo::ZelvoSuccess || camera.start(Zelvo::DEPTH) != 0) return 1;
    Zelvo::ZelvoFrameBuffer* frame = camera.requestFrame(5000);
    std::printf("libzelvo-dev: %s\n", frame ? "one depth frame" : "no frame");
    if (frame) camera.releaseFrame(frame);
    camera.stop();
    return frame && camera.close() == Zelvo::ZelvoSuccess ? 0 : 1;
}

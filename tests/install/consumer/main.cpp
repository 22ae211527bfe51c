// Opens the first camera (the simulated board when ZELVO_SIM is set), takes one depth frame
// and prints its size and the depth at its centre.
#include <zelvo/camera.h>

#include <cstdio>

int main() {
    Zelvo::ZelvoTOFCamera camera;
    int status = camera.open(Zelvo::CSI, 0);
    if (status == Zelvo::ZelvoSuccess) status = camera.start(Zelvo::DEPTH);
    Zelvo::ZelvoFrameBuffer* frame = status == 0 ? camera.requestFrame(20000) : nullptr;
    Zelvo::FrameDataFormat format{};
    if (frame == nullptr || frame->getFormat(Zelvo::DEPTH, format) != 0) {
        std::printf("no frame: %s\n", Zelvo::to_str(static_cast<Zelvo::TofErrorCode>(status)));
        return 1;
    }
    const float* depth = static_cast<const float*>(frame->getData(Zelvo::DEPTH));
    std::printf("depth %ux%u centre %.0f mm\n", format.width, format.height,
                depth[format.height / 2 * format.width + format.width / 2]);
    camera.releaseFrame(frame);
    std::printf("stop: %s\n", Zelvo::to_str(static_cast<Zelvo::TofErrorCode>(camera.stop())));
    return camera.close() == Zelvo::ZelvoSuccess ? 0 : 1;
}

#!/usr/bin/env python3
"""The shortest complete use of the camera: one depth frame, start to finish.

Runs unchanged on a camera attached over CSI (video node 0) and, with ZELVO_SIM
set, on the simulated board.
"""
import sys

import ZelvoDepthCamera as zelvo

OK = zelvo.TOFErrorCode.ZelvoSuccess

camera = zelvo.ZelvoCamera()
code = camera.open(zelvo.TOFConnect.CSI, index=0)
if code != OK:
    sys.exit("open failed: " + code.str())

# The VGA sensor starts in single frequency, whose range ends at 1250 mm (farther things
# wrap around to near ones); double frequency reaches 4500 mm.
if camera.getCameraInfo().device_type == zelvo.TOFDeviceType.VGA:
    camera.setControl(zelvo.TOFControl.MODE, zelvo.TofWorkMode.DOUBLE_FREQ)
print("range %d mm" % camera.getControl(zelvo.TOFControl.RANGE))

code = camera.start(zelvo.TOFOutput.DEPTH)
if code != OK:
    camera.close()
    sys.exit("start failed: " + code.str())

# Wait at most ten seconds: the first frame of a VGA camera waits for its depth library.
frame = camera.requestFrame(10000)
if frame is None:
    print("no frame within ten seconds")
else:
    depth = frame.getDepthData()  # a copy: stays valid after the release
    camera.releaseFrame(frame)
    rows, cols = depth.shape
    print("depth frame of %d x %d pixels, %.0f mm at the centre (along its ray)"
          % (cols, rows, depth[rows // 2, cols // 2]))

camera.stop()
camera.close()

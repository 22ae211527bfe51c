"""The ROS 1 side of the messages: copies zelvo.ros.messages records into sensor_msgs
messages of rospy. Imported only by the ROS 1 node."""
import genpy
from sensor_msgs.msg import CameraInfo, Image, PointCloud2, PointField
from std_msgs.msg import Header

from zelvo.ros import messages

TYPES = {
    messages.DEPTH: Image,
    messages.AMPLITUDE: Image,
    messages.CONFIDENCE: Image,
    messages.RAW: Image,
    messages.CAMERA_INFO: CameraInfo,
    messages.POINTS: PointCloud2,
}


def header(record):
    return Header(stamp=_time(record.stamp_ns), frame_id=record.frame_id)


def _time(stamp_ns):
    seconds, nanoseconds = divmod(int(stamp_ns), 1000000000)
    return genpy.Time(seconds, nanoseconds)


def image(record):
    return Image(header=header(record.header), height=record.height, width=record.width,
                 encoding=record.encoding, is_bigendian=int(record.is_bigendian),
                 step=record.step, data=record.data.tobytes())


def camera_info(record):
    return CameraInfo(header=header(record.header), height=record.height, width=record.width,
                      distortion_model=record.distortion_model, D=record.d, K=record.k,
                      R=record.r, P=record.p)


def point_cloud(record):
    fields = [PointField(name=f.name, offset=f.offset, datatype=f.datatype, count=f.count)
              for f in record.fields]
    return PointCloud2(header=header(record.header), height=record.height,
                       width=record.width, fields=fields,
                       is_bigendian=record.is_bigendian, point_step=record.point_step,
                       row_step=record.row_step, data=record.data.tobytes(),
                       is_dense=record.is_dense)


def message(record):
    """The rospy message of a record."""
    if isinstance(record, messages.Image):
        return image(record)
    if isinstance(record, messages.CameraInfo):
        return camera_info(record)
    return point_cloud(record)

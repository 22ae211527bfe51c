"""The camera in ROS: `python3 -m zelvo.ros` runs the ROS 1 node (zelvo.ros.node).
zelvo.ros.messages converts frames to messages without depending on a ROS version."""

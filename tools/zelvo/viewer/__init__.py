"""The live viewer of `zelvo view`: a page served over HTTP with the frames on a WebSocket."""

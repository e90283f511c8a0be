#pragma once

#include "application/streaming/bin.h"

namespace streaming {

// A Matroska stream can only be read from the start of a cluster: the cluster carries the time
// code that its frames' times are counted from. Makes every TCP server sink in the bin start each
// new client, after the stream header, at the next cluster start, so that a client's demuxer gets
// its segment and time-stamped frames from the first frame on, whenever it connects. Call before
// the bin leaves the NULL state.
void StartClientsAtClusters(Bin& bin);

}  // namespace streaming

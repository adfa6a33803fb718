#pragma once

#include "order_player.h"

#include <vector>

// One lane of a lab: an OCS with its own POS and link, played by an engine of its own.
struct SLane {
    QString strName;        // the section's name; also its capture file's
    SPlayerOptions options; // the command line's, with what the lane says instead
    int nLine = 0;          // where its section starts
};

// Most lanes a lanes file may hold: each has a thread, a link and two journals.
constexpr int LANES_MAX = 256;

// Reads a lanes file: INI sections, one a lane, named by the lane, holding keys named as the
// player's options (pos, tcp, serial, baud, parity, data-bits, stop-bits, flow, expect,
// reply-timeout, passes, checksum, include-etx). Each lane starts from `common`. False with
// "FILE:LINE: reason" when any lane cannot be played as written.
bool ReadLanesFile(const QString& path, const SPlayerOptions& common, std::vector<SLane>& lanes,
                   QString& error);

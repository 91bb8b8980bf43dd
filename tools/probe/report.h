// What the probe prints: the track table and the cues at a time.
#ifndef TPSUBM_PROBE_REPORT_H
#define TPSUBM_PROBE_REPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "host/loader.h"

namespace probe {

using host::Track;

void print_table(const std::vector<Track> &tracks);
void print_selection(const std::vector<Track> &tracks);
void print_at(const std::vector<Track> &tracks, int32_t time_ms);

}  // namespace probe

#endif

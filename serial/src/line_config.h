// The line configuration: the sequence of platform calls that applies a
// row's stored settings to its open device.
#pragma once

#include "port_table.h"

namespace tarvex {

enum class ConfigOutcome { success, failed, refused };

// Event mask, queue sizes, purge, and the device's present time-outs saved
// for COM_Close. False when one of these calls fails.
bool prepare_device(PortRow& row);

// Working time-outs, the line state built from the stored settings, and
// fresh completion events.
ConfigOutcome apply_settings(PortRow& row);

// Both halves, as COM_Open runs them.
ConfigOutcome configure_line(PortRow& row);

// Maps the stored settings onto a line state the device reported, changing
// only baud rate, byte size, parity and stop bits.
void map_settings_to_dcb(const PortRow& row, os::Dcb& dcb);

// Releases the completion records' events, if they hold any.
void release_events(PortRow& row);

}  // namespace tarvex

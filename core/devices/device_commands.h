#pragma once
// The device dialogs' menu commands (network parameters, power, temperature,
// product information, serial monitor, protocol file, upgrade) and the
// firmware-upgrade opener that the service keys and the upgrade replies use.

#include <QString>

#include <cstdint>

class CvelunaDoc;

// Registers every device command in the command table (core/command_registry.h)
// and starts the update check of this run.
void InstallDeviceCommands();

// Opens the firmware-upgrade dialog for `kind` (1 CPU program, 2 FPGA image,
// 3 server program through the debug bridge). Kinds 1 and 2 need a connected
// player; kind 3 first checks that the bridge tool and our script are there.
void OpenUpgradeDialog(CvelunaDoc& doc, uint8_t kind);

// Opens the video and picture window editor for the connected player (after
// its window file was fetched, or at once for players without the exchange).
void OpenVideoPicWindowDialog(CvelunaDoc& doc);

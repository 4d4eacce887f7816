#pragma once
// Why a link to a player went, as a dialog tells the user when a transfer
// over it ends unfinished.

#include <QString>

#include <cstdint>

// `linkEvent` and `error` as the link reported them (LinkEventType, errno),
// in the interface's language: "the player closed the connection" and the like.
QString LinkLossText(uint16_t linkEvent, int error, unsigned language);

// True when the link went because the file a packet was being sent from
// could not be read (cut while it was written): the document names that
// file, and a dialog whose transfer ends with it does not blame the player.
bool LinkLostToUnreadableFile(uint16_t linkEvent, int error);

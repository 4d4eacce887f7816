#pragma once
// The rotation editor's documents:
//  - Rotate.Json, the live wall sent to the player with CMD_ROTATE_CONFIG;
//  - config/Rotate.QVE, the editor's whole state kept between openings;
//  - Monitor/monitors.json, the database of display models.
// Names travel as UTF-8 both ways (a name a player's document carried as
// code-page bytes is read as such).

#include "common/file_commit.h"
#include "rotation/rotate_model.h"

#include <QByteArray>
#include <QString>

#include <json/json.h>

#include <vector>

namespace rotation {

// ------------------------------------------------------------ Rotate.Json

// The document for the current wall. With a screen's background hidden its
// corners become the box of the displayed picture areas (stored back).
Json::Value BuildRotateJson(RotateModel& model, uint16_t channel, bool click);
// Writes `document` as tempFolder/Rotate.Json, reads the file back and hands
// it to the main window as CMD_ROTATE_CONFIG for the current player. False
// (nothing sent) when the file cannot be written or read, or no main window;
// for the file, `failure` (when given) names it and the reason.
bool SendRotateDocument(const QString& tempFolder, const Json::Value& document,
                        filecommit::WriteFailure* failure = nullptr);

// ------------------------------------------------------------ Rotate.QVE

inline constexpr const char* kRotateConfigMsg = "Rotate config V2";

Json::Value BuildRotateConfig(const RotateModel& model);
// The file's text as written (jsoncpp's styled layout, 17 digits).
QByteArray WriteRotateConfig(const RotateModel& model);
// Fills the records from the text; false (and nothing changed) when refused.
bool ParseRotateConfig(const QByteArray& text, RotateModel& model);
// playerFolder/config/Rotate.QVE
QString RotateConfigPath(const QString& playerFolder);
// Writes the file (folders made first); false, with the reason in `error`,
// when it could not be written.
bool SaveRotateConfigFile(const QString& playerFolder, const RotateModel& model, QString* error = nullptr);

// ------------------------------------------------------------ monitors.json

// home/Monitor/monitors.json
QString MonitorFilePath();
// Fills `list`; false (list untouched) for an empty, malformed or
// entry-less text. "entries": null reads as an empty list; entries that are
// not an array change nothing but count as read.
bool ParseMonitorList(const QByteArray& text, std::vector<OutputDevice>& list);
QByteArray WriteMonitorList(const std::vector<OutputDevice>& list);
// Reads the file (up to its first NUL byte); false when it cannot be read or
// is refused.
bool LoadMonitorFile(std::vector<OutputDevice>& list);
// Writes the file, making the Monitor folder when missing; false with a
// message in `error` (language of `language`) when it could not be written.
bool SaveMonitorFile(const std::vector<OutputDevice>& list, unsigned language, QString* error = nullptr);

// Each manufacturer once (case-sensitive), ascending by character code.
std::vector<QString> ManufacturerNames(const std::vector<OutputDevice>& list);
// The models of `manufacturer`, ascending.
std::vector<QString> ModelNames(const std::vector<OutputDevice>& list, const QString& manufacturer);
// Index of the entry with both names, or -1.
int FindMonitor(const std::vector<OutputDevice>& list, const QString& manufacturer, const QString& model);

// A size edit's text after one keystroke's worth of cleaning, repeated until
// only digits and at most one point are left ("12.5.3" -> "12.53").
QString CleanNumberText(QString text);
// The leading decimal number of a text, 0 when there is none.
double NumberFromText(const QString& text);

}  // namespace rotation

#pragma once
// Play modes: the player's named sets of effect parameters, as the play-mode
// document carries them ({"effectLists": [[param, ...], ...]}), the list of
// picture types the player knows, and the packets that read and upload them.
// Also the mobile-app settings document and its phrase files. Plain C++ and
// Qt core only: the dialogs are thin over this.

#include "transport/protocol.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace playmode {

// Input types of a parameter: which value fields it uses.
enum InputType : uint16_t {
    kInteger = 0,
    kDecimal = 1,
    kText = 2,
    kIntegerChoice = 3,
    kDecimalChoice = 4,
    kTextChoice = 5,
    kIntegerRange = 6,
    kDecimalRange = 7,
    kTextMultiChoice = 8,
};
inline constexpr uint16_t kLastInputType = kTextMultiChoice;

// Keys with a fixed role.
inline constexpr const char* kTypeKey = "type";
inline constexpr const char* kPictureTypeKey = "pictureType";

struct EffectParam {
    QString keyVal;
    QString lableName;
    uint16_t inputType = 0;
    QString remarks;
    int32_t integerValue = 0;
    float decimalValue = 0;
    QString textValue;
    std::vector<int32_t> integerOptions;
    int32_t integerChoice = 0;
    std::vector<float> decimalOptions;
    float decimalChoice = 0;
    QStringList textOptions;
    QString textChoice;
    int32_t integerMax = 0;
    int32_t integerMin = 0;
    int32_t integerInRange = 0;
    float decimalMax = 0;
    float decimalMin = 0;
    float decimalInRange = 0;
    QStringList listOptions;
    QStringList listChoices;

    bool operator==(const EffectParam&) const = default;
};

struct PlayMode {
    std::vector<EffectParam> params;
    QString name;  // textChoice of the type-5 "type" parameter

    bool operator==(const PlayMode&) const = default;
};

// Reads a play-mode document into `target`. False (target unchanged) when
// the payload fails the pre-checks or the parse. When "effectLists" is
// missing or not an array the target keeps its content and the result is
// true. Elements that are neither arrays nor null are skipped; a null
// element is a mode without parameters.
bool ReadEffectLists(const QByteArray& payload, std::vector<PlayMode>& target);

// Reads {"imageTypes": [...]}: the string elements, in order (others are
// skipped). False (target unchanged) when the payload fails the checks.
bool ReadImageTypes(const QByteArray& payload, QStringList& target);

// The document of `modes`; "pictureType" choices are kept only when they
// stand in `imageTypes`. Empty modes stand as null (trailing ones left out);
// no modes write "effectLists" as null.
QByteArray PlayModeDocument(const std::vector<PlayMode>& modes, const QStringList& imageTypes);
// Writes the document (CR LF line ends, through a temporary file).
bool WritePlayModeDocument(const QString& path, const std::vector<PlayMode>& modes, const QStringList& imageTypes,
                           QString* error = nullptr);

// Packets. Picture side: CMD_PICTURE_PLAY with the operation at 8.
enum PictureOp : uint16_t { kPicCatalogue = 0, kPicConfigured = 1, kPicImageTypes = 2, kPicUpload = 3 };
// Video side: reads with CMD_PARAM_FILE kind 6 (operation at 10), the
// upload with CMD_PICTURE_PLAY, 6 at 8 and 2 at 10; replies come as
// operations 0 (catalogue), 1 (configured modes), 2 (upload confirmed).
enum VideoOp : uint16_t { kVidCatalogue = 0, kVidConfigured = 1, kVidUploaded = 2 };
inline constexpr uint16_t kVideoKind = 6;

proto::PlayerPacketHeader PictureRequest(uint16_t operation);
proto::PlayerPacketHeader VideoReadRequest(uint16_t operation);
proto::PlayerPacketHeader VideoUploadRequest();

// True when a document of `size` bytes fits in one packet.
inline bool FitsOnePacket(qint64 size)
{
    return size >= 0 && quint64(size) <= proto::kMaxPayload;
}

// ---- Mobile-app settings ----

struct MobileModule {
    QString name;
    bool enabled = false;
    bool operator==(const MobileModule&) const = default;
};

struct MobileEffect {
    QString name;
    uint32_t type = 0;
    bool operator==(const MobileEffect&) const = default;
};

struct MobileSettings {
    std::vector<MobileModule> modules;
    QStringList words;
    std::vector<MobileEffect> effects;
};

// Reads the settings document. False (out unchanged) when the payload fails
// the checks or the parse. Modules need a string "name" and an unsigned
// integer "enable"; effects a string "name" and an unsigned integer "type".
bool ParseMobileJson(const QByteArray& payload, MobileSettings& out);
// The document to upload: "type" of a module is its position + 1.
QByteArray MobileDocument(const MobileSettings& settings);
bool WriteMobileJson(const QString& path, const MobileSettings& settings, QString* error = nullptr);

enum MobileOp : uint16_t { kMobileRead = 0, kMobileUpload = 1 };
proto::PlayerPacketHeader MobileRequest(uint16_t operation);

// Phrase files (.GFDW): one phrase a line, code page 936, CR LF.
// Reading: every line without its line end (a final line without one
// counts too).
QStringList ReadPhraseFile(const QByteArray& bytes);
// Encodes the phrases; false, with the first phrase that code page 936
// cannot hold in `bad`, when one cannot be written as it stands.
bool EncodePhraseFile(const QStringList& phrases, QByteArray& out, QString* bad = nullptr);

}  // namespace playmode

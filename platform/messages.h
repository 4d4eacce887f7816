#pragma once
// Window message ids shared by both programs. The numbers are part of how the
// dialogs and the link code talk to each other, so they never change.

namespace platform {

inline constexpr unsigned WM_USER = 0x0400;

inline constexpr unsigned WM_TCP_EVENT = WM_USER + 100;
inline constexpr unsigned WM_UDP_EVENT = WM_USER + 200;
inline constexpr unsigned WM_SEND_TO_PLAYER = WM_USER + 309;
inline constexpr unsigned WM_BLEND_WIZARD_REPLY = WM_USER + 310;
inline constexpr unsigned WM_WARP_WIZARD_STEP = WM_USER + 311;
inline constexpr unsigned WM_TEMPERATURE_REPLY = WM_USER + 312;
inline constexpr unsigned WM_OUTPUT_MODE_REPLY = WM_USER + 313;
inline constexpr unsigned WM_VIDEO_LIST_REPLY = WM_USER + 315;
inline constexpr unsigned WM_VIDEO_UPLOAD_REPLY = WM_USER + 316;
inline constexpr unsigned WM_VIDEO_DELETE_REPLY = WM_USER + 317;
inline constexpr unsigned WM_VIDEO_SELECT_REPLY = WM_USER + 318;
inline constexpr unsigned WM_VIDEO_RENAME_REPLY = WM_USER + 319;
inline constexpr unsigned WM_PRODUCT_INFO_REPLY = WM_USER + 326;
inline constexpr unsigned WM_CASCADE_REPLY = WM_USER + 327;
inline constexpr unsigned WM_VIDEO_PIC_WINDOW_REPLY = WM_USER + 328;
inline constexpr unsigned WM_TRACKBAR_VALUES_REPLY = WM_USER + 329;
inline constexpr unsigned WM_UPGRADE_REPLY = WM_USER + 330;
inline constexpr unsigned WM_USART_DATA_REPLY = WM_USER + 333;
inline constexpr unsigned WM_OPEN_SETUP_EDITOR = WM_USER + 334;
inline constexpr unsigned WM_NETWORK_PARAM_REPLY = WM_USER + 335;
inline constexpr unsigned WM_OPEN_VIDEO_PIC_WINDOW = WM_USER + 336;
inline constexpr unsigned WM_PARAM_FILE_REPLY = WM_USER + 337;
inline constexpr unsigned WM_POWER_REPLY = WM_USER + 338;
inline constexpr unsigned WM_QRCODE_REPLY = WM_USER + 339;
inline constexpr unsigned WM_ROTATE_REPLY = WM_USER + 340;
inline constexpr unsigned WM_GAME_REPLY = WM_USER + 341;
inline constexpr unsigned WM_LIDAR_REPLY = WM_USER + 342;
inline constexpr unsigned WM_GALLERY_REPLY = WM_USER + 343;
inline constexpr unsigned WM_PICTURE_PLAY_REPLY = WM_USER + 344;
inline constexpr unsigned WM_MOBILE_SETTINGS_REPLY = WM_USER + 345;
inline constexpr unsigned WM_VIDEO_CONTROL_REPLY = WM_USER + 346;
inline constexpr unsigned WM_OSD_REPLY = WM_USER + 347;
inline constexpr unsigned WM_CONTROL_PROTOCOL_REPLY = WM_USER + 348;
inline constexpr unsigned WM_VIDEO_PLAY_REPLY = WM_USER + 349;
// Tollivar's hub to the window waiting for a reply (video control, Setup
// UART, Set Param): the reply of the link tagged wParam was dropped while it
// still arrived (too slow); lParam a const QString* holding the player's IP,
// valid during the call.
inline constexpr unsigned WM_REPLY_TOO_SLOW = WM_USER + 350;
inline constexpr unsigned WM_LINK_CLOSED = WM_USER + 407;

}  // namespace platform

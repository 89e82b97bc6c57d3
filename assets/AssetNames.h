#pragma once
// Names of the station's sounds and pictures, relative to the folder of the
// executable. The build generates exactly these files (assets/gen_assets) and
// the windows load them by these names, so the two cannot drift apart.
// All names are ASCII with "/" as separator, which every platform accepts.
#include <array>
#include <string>
#include <string_view>

namespace kv::assets {

struct Size {
    int width;
    int height;
};

struct Rect {
    int x;
    int y;
    int width;
    int height;
};

// ---- Sounds: 16-bit mono PCM WAV, 22050 Hz ----

inline constexpr std::string_view kSoundsFolder = "Sounds";
// Restarted every 500 ms by the board tick, so it lasts less than that.
inline constexpr std::string_view kSoundAlarm = "Sounds/Alarm.wav";
inline constexpr std::string_view kSoundOn = "Sounds/on.wav";
inline constexpr std::string_view kSoundOff = "Sounds/off.wav";
inline constexpr std::string_view kSoundSmsInfo = "Sounds/smsinfo.wav";
// The open alarms' sounds beside Alarm.wav: the most urgent priority, and the lowest.
inline constexpr std::string_view kSoundUrgent = "Sounds/urgent.wav";
inline constexpr std::string_view kSoundTrouble = "Sounds/trouble.wav";
inline constexpr std::array<std::string_view, 6> kSounds = {kSoundAlarm,   kSoundOn,     kSoundOff,
                                                            kSoundSmsInfo, kSoundUrgent, kSoundTrouble};

// ---- Signal level icons of the modems, 32 x 32, transparent ----

inline constexpr Size kSignalIconSize{32, 32};
inline constexpr std::string_view kSignalNone = "ICO/Signal3/blocks-nm-signal-00.png";
inline constexpr std::string_view kSignal0to24 = "ICO/Signal3/blocks-gnome-netstatus-0-24.png";
inline constexpr std::string_view kSignal25to49 = "ICO/Signal3/blocks-gnome-netstatus-25-49.png";
inline constexpr std::string_view kSignal50to74 = "ICO/Signal3/blocks-gnome-netstatus-50-74.png";
inline constexpr std::string_view kSignal75to100 = "ICO/Signal3/blocks-gnome-netstatus-75-100.png";
// Shown before a modem has been started.
inline constexpr std::string_view kModemOff = "ICO/Signal3/modem-off.png";
// Indexed by the number of filled bars, 0 to 4.
inline constexpr std::array<std::string_view, 5> kSignalByBars = {
    kSignalNone, kSignal0to24, kSignal25to49, kSignal50to74, kSignal75to100};

// ---- Journal status icons (ImageList1), 20 x 20, transparent ----
// 0 key, 1 envelope, 2 closed padlock, 3 cross, 4 envelope with a cross,
// 5 open padlock, 6 thermometer, 7 exclamation mark, 8 globe, 9 coin,
// 10 person, 11 stacked messages, 12 clipboard with a tick, 13 clipboard with a cross.

inline constexpr Size kJournalIconSize{20, 20};
inline constexpr std::array<std::string_view, 14> kJournalIcons = {
    "Pictures/journal/0.png", "Pictures/journal/1.png",  "Pictures/journal/2.png",
    "Pictures/journal/3.png", "Pictures/journal/4.png",  "Pictures/journal/5.png",
    "Pictures/journal/6.png", "Pictures/journal/7.png",  "Pictures/journal/8.png",
    "Pictures/journal/9.png", "Pictures/journal/10.png", "Pictures/journal/11.png",
    "Pictures/journal/12.png", "Pictures/journal/13.png"};

// ---- Board notification icons (ImageList2), 32 x 32, transparent ----
// 0 grey, 1 blue, 2 green, 3 orange, 4 magenta disc with a white "i",
// 5 yellow warning triangle.

inline constexpr Size kBoardIconSize{32, 32};
inline constexpr std::array<std::string_view, 6> kBoardIcons = {
    "Pictures/board/0.png", "Pictures/board/1.png", "Pictures/board/2.png",
    "Pictures/board/3.png", "Pictures/board/4.png", "Pictures/board/5.png"};

// ---- Picture buttons: normal, highlighted (mouse over) and pressed ----
// The label is part of the picture; the button shows no caption of its own.

struct ButtonPictures {
    std::string_view normal;
    std::string_view hover;
    std::string_view down;
    Size size;
};

// Main window.
inline constexpr ButtonPictures kLogo{"Pictures/logo.png", "Pictures/logo-hover.png",
                                      "Pictures/logo-down.png", {130, 70}};
inline constexpr ButtonPictures kBtnModem{"Pictures/btn-modem.png", "Pictures/btn-modem-hover.png",
                                          "Pictures/btn-modem-down.png", {110, 70}};
inline constexpr ButtonPictures kBtnDevices{"Pictures/btn-devices.png",
                                            "Pictures/btn-devices-hover.png",
                                            "Pictures/btn-devices-down.png", {110, 70}};
inline constexpr ButtonPictures kBtnAccess{"Pictures/btn-access.png",
                                           "Pictures/btn-access-hover.png",
                                           "Pictures/btn-access-down.png", {110, 70}};
inline constexpr ButtonPictures kBtnEvents{"Pictures/btn-events.png",
                                           "Pictures/btn-events-hover.png",
                                           "Pictures/btn-events-down.png", {110, 70}};
inline constexpr ButtonPictures kBtnHelp{"Pictures/btn-help.png", "Pictures/btn-help-hover.png",
                                         "Pictures/btn-help-down.png", {110, 70}};

// Modem settings window.
inline constexpr ButtonPictures kBtnComSetup{"Pictures/btn-comsetup.png",
                                             "Pictures/btn-comsetup-hover.png",
                                             "Pictures/btn-comsetup-down.png", {200, 40}};
inline constexpr ButtonPictures kBtnConnect{"Pictures/btn-connect.png",
                                            "Pictures/btn-connect-hover.png",
                                            "Pictures/btn-connect-down.png", {200, 40}};
inline constexpr ButtonPictures kBtnLinkTest{"Pictures/btn-linktest.png",
                                             "Pictures/btn-linktest-hover.png",
                                             "Pictures/btn-linktest-down.png", {200, 40}};
inline constexpr ButtonPictures kBtnBalance{"Pictures/btn-balance.png",
                                            "Pictures/btn-balance-hover.png",
                                            "Pictures/btn-balance-down.png", {200, 40}};

// Port selection window.
inline constexpr ButtonPictures kBtnDevice1{"Pictures/btn-device1.png",
                                            "Pictures/btn-device1-hover.png",
                                            "Pictures/btn-device1-down.png", {180, 60}};
inline constexpr ButtonPictures kBtnDevice2{"Pictures/btn-device2.png",
                                            "Pictures/btn-device2-hover.png",
                                            "Pictures/btn-device2-down.png", {180, 60}};

// Device card.
inline constexpr ButtonPictures kBtnInfo{"Pictures/btn-info.png", "Pictures/btn-info-hover.png",
                                         "Pictures/btn-info-down.png", {150, 44}};
inline constexpr ButtonPictures kBtnArm{"Pictures/btn-arm.png", "Pictures/btn-arm-hover.png",
                                        "Pictures/btn-arm-down.png", {150, 44}};
inline constexpr ButtonPictures kBtnDisarm{"Pictures/btn-disarm.png",
                                           "Pictures/btn-disarm-hover.png",
                                           "Pictures/btn-disarm-down.png", {150, 44}};
inline constexpr ButtonPictures kBtnTemp{"Pictures/btn-temp.png", "Pictures/btn-temp-hover.png",
                                         "Pictures/btn-temp-down.png", {150, 44}};
// Relay buttons carry no text: red power symbol switches on, blue switches off.
inline constexpr ButtonPictures kBtnRelayOn{"Pictures/btn-relay-on.png",
                                            "Pictures/btn-relay-on-hover.png",
                                            "Pictures/btn-relay-on-down.png", {36, 36}};
inline constexpr ButtonPictures kBtnRelayOff{"Pictures/btn-relay-off.png",
                                             "Pictures/btn-relay-off-hover.png",
                                             "Pictures/btn-relay-off-down.png", {36, 36}};

inline constexpr std::array<ButtonPictures, 18> kButtons = {
    kLogo,       kBtnModem,    kBtnDevices, kBtnAccess,  kBtnEvents,  kBtnHelp,
    kBtnComSetup, kBtnConnect, kBtnLinkTest, kBtnBalance, kBtnDevice1, kBtnDevice2,
    kBtnInfo,    kBtnArm,      kBtnDisarm,  kBtnTemp,    kBtnRelayOn, kBtnRelayOff};

// ---- Window pictures ----

// Link-lost alert: drawn on the (0,128,255) panel; the two red warning lines are
// labels the window lays over kAlertTextArea, a light band left free for them.
inline constexpr std::string_view kAlertPicture = "Pictures/alert.png";
inline constexpr Size kAlertSize{327, 227};
inline constexpr Rect kAlertTextArea{8, 146, 311, 73};

// Help window: logo, title and subtitle; the three link labels go over
// kHelpLinkArea, which is plain white.
inline constexpr std::string_view kHelpPicture = "Pictures/help.png";
inline constexpr Size kHelpSize{308, 402};
inline constexpr Rect kHelpLinkArea{8, 316, 292, 80};

// Application icon.
inline constexpr std::string_view kAppIcon = "Pictures/korvalen.png";
inline constexpr Size kAppIconSize{64, 64};

// The same icon for the desktop's menus, in the sizes of the hicolor theme,
// laid out as the theme is: "icons/hicolor/48x48/apps/korvalen.png".
inline constexpr int kDesktopIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
inline std::string DesktopIconName(int size)
{
    const std::string n = std::to_string(size);
    return "icons/hicolor/" + n + "x" + n + "/apps/korvalen.png";
}

} // namespace kv::assets

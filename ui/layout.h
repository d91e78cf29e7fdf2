#pragma once
// What the window shows and how it reacts, as plain functions of the state: no drawing, no window.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/app_state.h"

enum class Screen : int32_t { Choose, Progress, Finished, ConfirmUninstall, Uninstalling, Uninstalled };
enum class ButtonStyle : int32_t { Primary = 0, Secondary = 1, Danger = 2 };

// Control ids carried by the hit rectangles.
enum ControlId : int32_t {
    NoControl = -1,
    MainButton = 1,
    SecondButton = 2,
    ChangeFolderButton = 3,
    DesktopShortcutBox = 4,
    LaunchAfterInstallBox = 5,
    RemoveUserDataBox = 6,
    FirstComponentRow = 100,  // row i has id 100 + i; row 0 is never recorded
};

// Side margin of every screen, logical px.
constexpr float kMargin = 32.0f;

Screen screenFor(RunMode mode, int32_t phase, uint64_t bytesDone, uint64_t bytesTotal);
const wchar_t* screenTitle(Screen screen, RunMode mode, bool hasInstalledVersion);

// The release the release check found comes before the installed version: the window offers no update.
bool offersOlderRelease(const std::string& installedVersion, const std::string& offeredVersion);
// The paragraph at the top of the Choose screen.
std::wstring chooseIntroText(const std::string& installedVersion, const std::string& offeredVersion);
// The label of button 1 while the phase is Ready or Failed; null when there is nothing to offer (the release
// on the site is older than the installed one).
const wchar_t* mainButtonLabel(int32_t phase, RunMode mode, const std::string& installedVersion,
                               const std::string& offeredVersion);

// One button of the bar: its left edge lies `fromRight` logical px left of W − M.
struct BarButton {
    int32_t id;
    ButtonStyle style;
    const wchar_t* label;
    float fromRight;
    float width;
};
// The bar's buttons from right to left (which is also their drawing order); mainLabel is used in Ready and
// Failed, where a null one leaves "Закрыть" alone.
std::vector<BarButton> buttonBarFor(int32_t phase, RunMode mode, const wchar_t* mainLabel);

// min(done / total, 1) in single precision; 0 when total is 0.
float progressFraction(uint64_t bytesDone, uint64_t bytesTotal);
// Width of the filled bar for a track width (both in the same unit) and the minimum width in that unit;
// 0 when nothing is to be drawn.
float progressBarWidth(float trackWidth, float fraction, float minimumWidth);
// "12.3 из 45.6 МБ", or empty when total is 0.
std::wstring progressFiguresText(uint64_t bytesDone, uint64_t bytesTotal);

// "N МБ" for a component row, or empty when no size is to be shown.
std::wstring componentSizeText(bool sizesKnown, uint64_t bytes);
// True for rows 1 to 3 whose graphics vendor is among the machine's adapters.
bool componentMatchesAdapter(int index, const std::vector<uint32_t>& gpuVendorIds);
// The row's title, with the adapter note when it matches.
std::wstring componentRowTitle(int index, const std::vector<uint32_t>& gpuVendorIds);

// The install folder for a folder the user picked: a folder named "Maketor" is used as it is, any other
// gets the subfolder "Torvel Maketor".
std::wstring installFolderForChoice(const std::wstring& chosenPath);

// Id of the last rectangle containing the point (left and top edges inside), or −1.
int32_t hitTest(const std::vector<HitRect>& rects, float x, float y);

// Whether a drawn control acts: "Изменить…" only before a first run, the component rows only outside a run;
// everything else the frame draws acts whenever it is drawn.
bool controlEnabled(int32_t id, int32_t phase);
// The control that Tab (or Shift+Tab, backwards) moves the focus to: the next active control of the frame in
// hit-list order, wrapping around; the first (or last) one when nothing has the focus; −1 when none is active.
int32_t nextFocus(const std::vector<HitRect>& rects, int32_t phase, int32_t focused, bool backwards);
// The focus once a new frame is on screen: kept while its control is still drawn and active; otherwise it
// moves to the bar's main button, or to the second button when there is no main one; none stays none.
int32_t focusAfterFrame(const std::vector<HitRect>& rects, int32_t phase, int32_t focused);

// The part of a message that is a file or folder path, as [begin, end): from the first to the last
// space-separated word that holds a separator. begin == end when the text names no path.
struct TextSpan {
    size_t begin = 0, end = 0;
};
TextSpan pathSpan(const std::wstring& text);
// The text shortened to at most maxLines lines (as linesNeeded counts them, for the box it will be drawn in):
// the text itself when it fits, otherwise with the middle of its path replaced by "…", as little as
// possible, keeping the start of the path and more of its end. Text without a path is returned unchanged.
std::wstring fitTextToLines(const std::wstring& text, int maxLines,
                            const std::function<int(const std::wstring&)>& linesNeeded);

// The failed first-install Choose screen has no room for its error text between the last checkbox and the
// button bar: the window grows by this many logical px for it (and keeps that height afterwards).
constexpr float kErrorRoomGrowth = 44.0f;
bool needsErrorRoom(RunMode mode, Screen screen, int32_t phase, bool hasInstalledVersion);

// The room the error text may fill, in logical px: from 8 px below the body's last element down to H − 74, the
// bottom of the error box as first laid out (H − 118, 44 high).
struct ErrorBlock {
    float top, bottom;
};
ErrorBlock errorRoom(float clientHeight, float bodyBottom);
// The top of an error text of the given height in that room: H − 118 while the text ends above H − 74;
// a taller text rises so that it ends there, but never above the room.
float errorTextTop(const ErrorBlock& room, float clientHeight, float textHeight);

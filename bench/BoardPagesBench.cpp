// A centre's board of 3 000 devices over four receivers, on full pages of
// 30 x 30: laying the pages, painting each, the board tick, a report's tile
// found by name, and the alarm counts of every page's tab (not a Google
// Benchmark: medians in milliseconds or microseconds).
// Usage: board_pages_bench [devices] [receivers]
#include "core/BoardState.h"
#include "data/Status.h"
#include "data/Text.h"
#include "station/StatusBoard.h"
#include "timing/UiThread.h"
#include "windows/SoundPlayer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using namespace kv::literals;

namespace {

// Median of `runs` timings of `work`, in microseconds.
double MedianUs(int runs, const std::function<void()>& work)
{
    std::vector<double> us;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        us.push_back(static_cast<double>(t.nsecsElapsed()) / 1e3);
    }
    std::sort(us.begin(), us.end());
    return us[us.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 3000;
    const int receivers = std::max(1, argc > 2 ? std::atoi(argv[2]) : 4);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    kv::InstallUiThread();
    kv::RecordingSoundPlayer sounds;
    kv::SetSoundPlayer(&sounds);

    std::vector<kv::DialDevice> devices;
    for (int i = 0; i < count; ++i)
        devices.push_back({"D" + std::to_string(i + 1), true, "60", "+7900" + std::to_string(1000000 + i)});
    const int perReceiver = (count + receivers - 1) / receivers;
    const auto receiverOf = [perReceiver](const std::string& name) {
        return kv::Str("Приёмник "_cp) + std::to_string((std::stoi(name.substr(1)) - 1) / perReceiver + 1);
    };
    kv::TileStates tiles;
    kv::BoardState state(tiles);
    const double layUs = MedianUs(11, [&] { state.SetPages(kv::LayBoardPages(devices, receiverOf, 30, 30)); });
    const int pages = static_cast<int>(state.Pages()->size());

    // Every tenth armed, every seventh with a notification; no alarm yet, so
    // the tick's search for a sounding tile goes through every page.
    for (int i = 0; i < count; i += 10)
        state.SetGuardState(devices[static_cast<std::size_t>(i)].simplename, 2);
    for (int i = 0; i < count; i += 7)
        state.SetInfoState(devices[static_cast<std::size_t>(i)].simplename, 4);

    kv::TStatusBoard board(state);
    const QPoint corner = board.CellRect(29, 29).bottomRight();
    board.resize(corner.x() + 2, corner.y() + 2);
    QImage image(board.size(), QImage::Format_RGB32);
    std::vector<double> paintUs;
    for (int p = 0; p < pages; ++p) {
        board.SetPage(p);
        paintUs.push_back(MedianUs(7, [&] { board.render(&image); }));
    }
    const double tickUs = MedianUs(201, [&] { board.Tick(true); });
    const std::string last = devices.back().simplename;
    const double byNameUs = MedianUs(201, [&] { state.SetInfoState(last, 5); });
    const double captionsUs = MedianUs(201, [&] {
        int alarms = 0;
        for (int p = 0; p < pages; ++p)
            alarms += board.SoundingTiles(p);
        if (alarms < 0)
            std::abort();
    });
    // An alarm on the last page: the tick finds it across every page before it.
    state.ShowRow(last, "main", kv::status::kAlarm, std::string(kv::status::kAlarm));
    const double tickAlarmUs = MedianUs(201, [&] { board.Tick(true); });
    app.processEvents();

    double paintAll = 0;
    for (double us : paintUs)
        paintAll += us;
    std::printf("board of %d devices, %d receivers, %d pages of 30 x 30\n", count, receivers, pages);
    std::printf("lay every page (register to tiles, states carried): %.2f ms\n", layUs / 1e3);
    std::printf("paint one page: %.2f ms median of pages, all pages: %.2f ms\n",
                paintUs[paintUs.size() / 2] / 1e3, paintAll / 1e3);
    std::printf("board tick (no alarm, every page searched): %.1f us\n", tickUs);
    std::printf("board tick (alarm on the last page): %.1f us\n", tickAlarmUs);
    std::printf("a report's tile found by name on the last page: %.1f us\n", byNameUs);
    std::printf("alarm counts of every page's tab: %.1f us\n", captionsUs);
    kv::SetSoundPlayer(nullptr);
    return sounds.Count(kv::Sound::Alarm) > 0 ? 0 : 1;
}

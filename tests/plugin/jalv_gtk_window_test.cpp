// The LV2 editor embedded by a GTK host: jalv.gtk3 on a dummy JACK server inside a virtual display
// (Xvfb), both started and stopped by this test. The host's window must hold the whole editor, and
// its top bar must look as the off-screen renderer draws it. The screenshot is kept beside the test
// program. Skipped with a message when Xvfb, jalv.gtk3, xdotool or ImageMagick's import are missing.

#include <gtest/gtest.h>

#include <cairo.h>

#include <chrono>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

bool have(char const* program)
{
    return std::system((std::string("command -v ").append(program).append(" >/dev/null 2>&1")).c_str()) == 0;
}

struct Surface {
    cairo_surface_t* s;
    explicit Surface(fs::path const& png) : s(cairo_image_surface_create_from_png(png.c_str())) {}
    ~Surface() { cairo_surface_destroy(s); }
    bool ok() const { return cairo_surface_status(s) == CAIRO_STATUS_SUCCESS; }
    int width() const { return cairo_image_surface_get_width(s); }
    int height() const { return cairo_image_surface_get_height(s); }
    std::uint32_t pixel(int x, int y) const
    {
        auto const* row = cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
        return reinterpret_cast<std::uint32_t const*>(row)[x] & 0xffffffu;
    }
};

TEST(JalvGtkWindow, TheHostEmbedsTheWholeEditor)
{
    if (!have("Xvfb") || !have("xdotool") || !have("import") || !have("jalv.gtk3"))
        GTEST_SKIP() << "Xvfb, xdotool, import or jalv.gtk3 missing";
    // jalv.gtk3 is not instrumented: with the sanitizer runtime preloaded GTK's start-up alone
    // outlasts the test. The release build runs it.
    if (!std::string(CORVELLA_SANITIZER_RUNTIME).empty())
        GTEST_SKIP() << "not run in sanitizer builds: the release build embeds the editor in jalv.gtk3";
    fs::path const out = fs::read_symlink("/proc/self/exe").parent_path() / "editor-jalv-gtk";
    fs::remove_all(out);
    fs::create_directories(out);
    char display[16], server[48];
    std::snprintf(display, sizeof display, ":%d", 80 + static_cast<int>(getpid() % 9)); // run one at a time
    std::snprintf(server, sizeof server, "corvella-gtk-%d", static_cast<int>(getpid()));
    std::string const environment = std::string("export DISPLAY=") + display + " JACK_DEFAULT_SERVER=" + server +
                                     " LV2_PATH='" + CORVELLA_LV2_PATH + "' XDG_CONFIG_HOME='" + out.string() +
                                     "/config' XDG_DATA_HOME='" + out.string() + "/data'\n";
    std::string preload;
    if (std::string const runtime = CORVELLA_SANITIZER_RUNTIME; !runtime.empty())
        preload = "LD_PRELOAD='" + runtime + "' ASAN_OPTIONS=detect_leaks=0 ";
    fs::path const pids = out / "pids", window_file = out / "window", shot = out / "jalv-gtk3.png";
    std::ofstream(out / "start.sh") << "set -u\n"
                                    << environment << "Xvfb $DISPLAY -screen 0 1400x1100x24 >/dev/null 2>&1 & xv=$!\n"
                                    << "echo $xv > '" << pids.string() << "'\n"
                                    << "sleep 1; kill -0 $xv 2>/dev/null || exit 77\n"
                                    << "jackd -n " << server << " -d dummy -r 48000 -p 256 >/dev/null 2>&1 & "
                                    << "echo $! >> '" << pids.string() << "'\n"
                                    << "sleep 1\n"
                                    << preload << "jalv.gtk3 urn:tarnwick:corvella > '" << (out / "jalv.log").string()
                                    << "' 2>&1 & echo $! >> '" << pids.string() << "'\n"
                                    << "timeout 30 xdotool search --sync --name Corvella | head -1 > '"
                                    << window_file.string() << "'\n"
                                    << "[ -s '" << window_file.string() << "' ] || exit 1\n"
                                    << "sleep 3\n"
                                    << "import -window \"$(cat '" << window_file.string() << "')\" '"
                                    << shot.string() << "'\n";
    int const status = std::system(("bash '" + (out / "start.sh").string() + "'").c_str());
    std::vector<pid_t> started;
    for (std::ifstream in(pids); in;) {
        pid_t pid = 0;
        if (in >> pid) started.push_back(pid);
    }
    for (auto it = started.rbegin(); it != started.rend(); ++it) {
        kill(*it, SIGTERM);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "Xvfb cannot start here";
    std::ifstream log_in(out / "jalv.log");
    std::string const log((std::istreambuf_iterator<char>(log_in)), std::istreambuf_iterator<char>());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "jalv.gtk3 showed no window:\n" << log;

    // The editor as the off-screen renderer draws it, for the same start-up program.
    fs::path const reference = out / "reference.png";
    ASSERT_EQ(std::system(("XDG_CONFIG_HOME='" + out.string() + "/config' XDG_DATA_HOME='" + out.string() +
                           "/data' '" CORVELLA_EDITOR_SHOT_PROGRAM "' '" + reference.string() + "' >/dev/null")
                              .c_str()),
              0);
    Surface const window(shot), editor(reference);
    ASSERT_TRUE(window.ok() && editor.ok());
    std::cout << "jalv.gtk3 screenshot: " << shot.string() << "\n";
    // The host adds its menu bar above the editor and nothing beside it.
    ASSERT_GE(window.width(), editor.width());
    ASSERT_GE(window.height(), editor.height());
    int const top = window.height() - editor.height();
    // The editor's top bar (name, program) as drawn off-screen: all but a few anti-aliased pixels.
    int same = 0, total = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < editor.width(); ++x, ++total) same += window.pixel(x, top + y) == editor.pixel(x, y);
    EXPECT_GT(same, total * 95 / 100) << "the embedded editor differs from its off-screen picture";
}

} // namespace

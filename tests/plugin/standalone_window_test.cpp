// The JACK standalone's editor in a real window: a virtual display (Xvfb) and a dummy JACK server
// that this test starts and stops by PID, the decay knob turned with xdotool (wheel and drag), and
// screenshots before and after, kept beside the test program. Skipped with a message when Xvfb,
// xdotool or ImageMagick's import are missing.

#include <gtest/gtest.h>

#include <cairo.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

bool have(char const* program)
{
    return std::system((std::string("command -v ").append(program).append(" >/dev/null 2>&1")).c_str()) == 0;
}

// Sum of absolute channel differences of two screenshots inside a rectangle.
long difference(fs::path const& a, fs::path const& b, int x, int y, int w, int h)
{
    cairo_surface_t* sa = cairo_image_surface_create_from_png(a.c_str());
    cairo_surface_t* sb = cairo_image_surface_create_from_png(b.c_str());
    long sum = -1;
    if (cairo_surface_status(sa) == CAIRO_STATUS_SUCCESS && cairo_surface_status(sb) == CAIRO_STATUS_SUCCESS) {
        sum = 0;
        cairo_surface_flush(sa);
        cairo_surface_flush(sb);
        unsigned char const* pa = cairo_image_surface_get_data(sa);
        unsigned char const* pb = cairo_image_surface_get_data(sb);
        int const stride = cairo_image_surface_get_stride(sa);
        for (int row = y; row < y + h; ++row)
            for (int col = x * 4; col < (x + w) * 4; ++col) sum += std::abs(pa[row * stride + col] - pb[row * stride + col]);
    }
    cairo_surface_destroy(sa);
    cairo_surface_destroy(sb);
    return sum;
}

TEST(StandaloneWindow, DecayKnobTurnsUnderXdotool)
{
    if (!have("Xvfb") || !have("xdotool") || !have("import")) GTEST_SKIP() << "Xvfb, xdotool or import missing";
    fs::path const out = fs::read_symlink("/proc/self/exe").parent_path() / "editor-window";
    fs::create_directories(out);
    char display[16], server[48];
    std::snprintf(display, sizeof display, ":%d", 90 + static_cast<int>(getpid() % 9));
    std::snprintf(server, sizeof server, "corvella-window-%d", static_cast<int>(getpid()));
    fs::path const script = out / "run.sh";
    std::ofstream(script) << "set -u\n"
                          << "export DISPLAY=" << display << " JACK_DEFAULT_SERVER=" << server << "\n"
                          << "Xvfb $DISPLAY -screen 0 1280x900x24 >/dev/null 2>&1 & xv=$!\n"
                          << "sleep 1; kill -0 $xv 2>/dev/null || { echo 'Xvfb cannot start'; exit 77; }\n"
                          << "'" << CORVELLA_JACKD_PROGRAM << "' -n " << server
                          << " -d dummy -r 48000 -p 256 >/dev/null 2>&1 & jd=$!\n"
                          << "sleep 1\n"
                          << "'" << CORVELLA_STANDALONE_PROGRAM << "' >/dev/null 2>&1 & sa=$!\n"
                          << "w=$(timeout 20 xdotool search --sync --name Corvella | head -1)\n"
                          << "rc=1\n"
                          << "if [ -n \"$w\" ]; then\n"
                          << "  sleep 2; import -window \"$w\" '" << (out / "before.png").string() << "'\n"
                          << "  xdotool mousemove --window \"$w\" 120 375 click 4 click 4 click 4; sleep 0.5\n"
                          << "  xdotool mousemove --window \"$w\" 192 375 mousedown 1 mousemove --window \"$w\" 192 365"
                          << " mousemove --window \"$w\" 210 350 mouseup 1; sleep 1\n"
                          << "  import -window \"$w\" '" << (out / "after.png").string() << "' && rc=0\n"
                          << "fi\n"
                          << "kill $sa; sleep 1; kill $jd; kill $xv; wait\n"
                          << "exit $rc\n";
    int const status = std::system(("bash '" + script.string() + "'").c_str());
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "Xvfb cannot start here";
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the standalone's window did not appear";
    std::cout << "Editor window screenshots: " << out.string() << "\n";
    // The decay value (below its knob) and the sustain knob changed; the title bar did not.
    EXPECT_GT(difference(out / "before.png", out / "after.png", 90, 396, 60, 16), 0);
    EXPECT_GT(difference(out / "before.png", out / "after.png", 162, 350, 60, 60), 0);
    EXPECT_EQ(difference(out / "before.png", out / "after.png", 0, 0, 400, 30), 0);
}

} // namespace

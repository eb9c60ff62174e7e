// The JACK standalone's editor in a real window: a virtual display (Xvfb) and a dummy JACK server
// that this test starts and stops by PID, the decay and sustain knobs turned with xdotool (wheel
// and drag), and screenshots before and after, kept beside the test program. The window alone
// could change without the engine hearing of it, so the test also listens: its own JACK clients
// play a click every half second through the standalone, whose start-up impulse response is a
// flat-topped decay written here, and measure how much of each response lies in its late part.
// Lowering the sustain level must lower that share; a file dropped onto the window (the test plays
// the drag source) must be heard. Skipped with a message when Xvfb, xdotool or ImageMagick's
// import are missing.

#include "support/wav_file.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <cairo.h>
#include <jack/jack.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>
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

constexpr jack_nframes_t rate = 48000;
constexpr jack_nframes_t click_period = rate / 2;
// Where a response is measured, in frames after its click: the first 20 ms, and 200 to 400 ms.
constexpr jack_nframes_t early_end = rate / 50, late_begin = rate / 5, late_end = 2 * rate / 5;

// The start-up impulse response: 400 ms of noise at a constant level, so that every part of it
// answers to the envelope alike.
bool write_impulse_response(fs::path const& file)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    corvella::test::PlanarAudio ir(2, std::vector<float>(late_end));
    for (auto& channel : ir)
        for (float& s : channel) s = noise(random);
    fs::create_directories(file.parent_path());
    return corvella::test::write_planar_wav(file, ir, static_cast<int>(rate));
}

// Two JACK clients around the standalone: one plays the clicks, the other sums the squares it
// hears back while the test listens. Both place the clicks by frame time, so they agree on where
// each response starts.
struct Listener {
    jack_client_t* source = nullptr;
    jack_client_t* sink = nullptr;
    jack_port_t* out = nullptr;
    jack_port_t* in[2] = {};
    std::atomic<bool> listening{false};
    std::atomic<double> early{0.0}, late{0.0};

    static int play(jack_nframes_t frames, void* self)
    {
        auto* l = static_cast<Listener*>(self);
        jack_nframes_t const start = jack_last_frame_time(l->source);
        auto* o = static_cast<float*>(jack_port_get_buffer(l->out, frames));
        for (jack_nframes_t n = 0; n < frames; ++n) o[n] = (start + n) % click_period == 0 ? 1.0f : 0.0f;
        return 0;
    }
    static int listen(jack_nframes_t frames, void* self)
    {
        auto* l = static_cast<Listener*>(self);
        if (!l->listening.load(std::memory_order_relaxed)) return 0;
        jack_nframes_t const start = jack_last_frame_time(l->sink);
        double e = 0.0, late_sum = 0.0;
        for (jack_port_t* port : l->in) {
            auto const* i = static_cast<float const*>(jack_port_get_buffer(port, frames));
            for (jack_nframes_t n = 0; n < frames; ++n) {
                jack_nframes_t const phase = (start + n) % click_period;
                if (phase < early_end) e += static_cast<double>(i[n]) * i[n];
                else if (phase >= late_begin && phase < late_end) late_sum += static_cast<double>(i[n]) * i[n];
            }
        }
        l->early.store(l->early.load(std::memory_order_relaxed) + e, std::memory_order_relaxed);
        l->late.store(l->late.load(std::memory_order_relaxed) + late_sum, std::memory_order_relaxed);
        return 0;
    }
    // The energy of the responses' early and late parts over `seconds` of clicks.
    std::pair<double, double> measure(double seconds)
    {
        early = 0.0, late = 0.0;
        listening = true;
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        listening = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // a cycle under way ends
        return {early.load(), late.load()};
    }
    ~Listener()
    {
        for (jack_client_t* c : {sink, source})
            if (c != nullptr) jack_client_close(c);
    }
};

// The processes the start script left running, stopped by their ids whatever the test's outcome.
struct Processes {
    std::vector<pid_t> pids; // Xvfb, jackd, the standalone
    ~Processes()
    {
        for (auto it = pids.rbegin(); it != pids.rend(); ++it) {
            if (*it > 0) kill(*it, SIGTERM);
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    }
};

// The path of a file URI: every byte outside the unreserved set percent-escaped.
std::string uri_escaped(std::string const& path)
{
    std::string out;
    char hex[4];
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

struct XdndDrop {
    bool aware = false, accepted_position = false, data_requested = false, finished_accepted = false;
};

// Plays a drag source: enter, position over (x, y) of the target window, drop; serves the
// text/uri-list when the target asks and waits for its finish message (5 s at most per step).
XdndDrop drop_file(char const* display_name, unsigned long target, std::string const& uri_list, int x, int y)
{
    XdndDrop result;
    Display* d = XOpenDisplay(display_name);
    if (d == nullptr) return result;
    auto atom = [d](char const* name) { return XInternAtom(d, name, False); };
    Atom const aware = atom("XdndAware"), selection = atom("XdndSelection"), uri = atom("text/uri-list");
    Window const source = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(d, selection, source, CurrentTime);

    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, target, aware, 0, 1, False, XA_ATOM, &type, &format, &items, &after, &data) == Success &&
        data != nullptr) {
        result.aware = items == 1 && *reinterpret_cast<Atom*>(data) >= 3;
        XFree(data);
    }
    int root_x = 0, root_y = 0;
    Window child = None;
    XTranslateCoordinates(d, target, DefaultRootWindow(d), x, y, &root_x, &root_y, &child);
    auto send = [&](char const* name, long l1, long l2, long l3, long l4) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = target;
        e.xclient.message_type = atom(name);
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(source);
        e.xclient.data.l[1] = l1;
        e.xclient.data.l[2] = l2;
        e.xclient.data.l[3] = l3;
        e.xclient.data.l[4] = l4;
        XSendEvent(d, target, False, NoEventMask, &e);
        XFlush(d);
    };
    // Waits for a client message `name` sent to the source, serving selection requests meanwhile.
    auto await = [&](char const* name, XEvent& got) {
        auto const until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < until) {
            while (XPending(d) > 0) {
                XEvent e;
                XNextEvent(d, &e);
                if (e.type == SelectionRequest && e.xselectionrequest.selection == selection) {
                    XSelectionRequestEvent const& r = e.xselectionrequest;
                    result.data_requested = r.target == uri;
                    XChangeProperty(d, r.requestor, r.property, uri, 8, PropModeReplace,
                                    reinterpret_cast<unsigned char const*>(uri_list.data()),
                                    static_cast<int>(uri_list.size()));
                    XEvent note{};
                    note.xselection.type = SelectionNotify;
                    note.xselection.requestor = r.requestor;
                    note.xselection.selection = r.selection;
                    note.xselection.target = r.target;
                    note.xselection.property = r.property;
                    note.xselection.time = r.time;
                    XSendEvent(d, r.requestor, False, NoEventMask, &note);
                    XFlush(d);
                } else if (e.type == ClientMessage && e.xclient.message_type == atom(name)) {
                    got = e;
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    };
    XEvent reply{};
    send("XdndEnter", 5L << 24, static_cast<long>(uri), 0, 0);
    send("XdndPosition", 0, (static_cast<long>(root_x) << 16) | root_y, CurrentTime,
         static_cast<long>(atom("XdndActionCopy")));
    result.accepted_position = await("XdndStatus", reply) && (reply.xclient.data.l[1] & 1) != 0;
    send("XdndDrop", 0, CurrentTime, 0, 0);
    result.finished_accepted = await("XdndFinished", reply) && (reply.xclient.data.l[1] & 1) != 0;
    XDestroyWindow(d, source);
    XCloseDisplay(d);
    return result;
}

void pause_for(double seconds)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// Xvfb, a dummy JACK server and the standalone, started in the background by a script that leaves
// their ids and the window behind; the listener's clients connected around the standalone.
class StandaloneWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!have("Xvfb") || !have("xdotool") || !have("import")) GTEST_SKIP() << "Xvfb, xdotool or import missing";
        out = fs::read_symlink("/proc/self/exe").parent_path() / "editor-window";
        fs::remove_all(out / "data");
        ASSERT_TRUE(write_impulse_response(
            out / "data/Audio/Impulse Responses/Tarnwick/Corvella/Factory 2/LongPlate-01-44100Hz.wav"));
        std::snprintf(server, sizeof server, "corvella-window-%d", static_cast<int>(getpid()));
        fs::path const display_file = out / "display";
        fs::remove(display_file);

        // Xvfb picks a free display itself (-displayfd) and names it in the display file.
        fs::path const start = out / "start.sh";
        std::ofstream(start) << "set -u\n"
                             << "export JACK_DEFAULT_SERVER=" << server << "\n"
                             << "echo > '" << (out / "pids").string() << "'\n"
                             << "Xvfb -displayfd 3 -screen 0 1280x1000x24 3>'" << display_file.string()
                             << "' >/dev/null 2>&1 & xv=$!\n"
                             << "echo $xv >> '" << (out / "pids").string() << "'\n"
                             << "for i in $(seq 50); do [ -s '" << display_file.string()
                             << "' ] && break; sleep 0.1; done\n"
                             << "kill -0 $xv 2>/dev/null && [ -s '" << display_file.string() << "' ] || exit 77\n"
                             << "export DISPLAY=:$(cat '" << display_file.string() << "')\n"
                             << "'" << CORVELLA_JACKD_PROGRAM << "' -n " << server << " -d dummy -r " << rate
                             << " -p 256 >/dev/null 2>&1 & echo $! >> '" << (out / "pids").string() << "'\n"
                             << "sleep 1\n"
                             << "XDG_DATA_HOME='" << (out / "data").string() << "' '"
                             << CORVELLA_STANDALONE_PROGRAM << "' >/dev/null 2>&1 & echo $! >> '"
                             << (out / "pids").string() << "'\n"
                             << "timeout 20 xdotool search --sync --name Corvella | head -1 > '"
                             << (out / "window").string() << "'\n"
                             << "[ -s '" << (out / "window").string() << "' ]\n";
        int const status = std::system(("bash '" + start.string() + "'").c_str());
        for (std::ifstream pids(out / "pids"); pids;) {
            pid_t pid = 0;
            if (pids >> pid) processes.pids.push_back(pid);
        }
        if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "Xvfb cannot start here";
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the standalone's window did not appear";
        int display_number = -1;
        std::ifstream(display_file) >> display_number;
        ASSERT_GE(display_number, 0);
        std::snprintf(display, sizeof display, ":%d", display_number);
        environment = std::string("export DISPLAY=") + display + " JACK_DEFAULT_SERVER=" + server + "\n";
        std::ifstream(out / "window") >> window;

        auto open = [&](char const* name) {
            jack_status_t ignored{};
            auto const options = static_cast<jack_options_t>(JackNoStartServer | JackServerName);
            return jack_client_open(name, options, &ignored, server);
        };
        // The server may still be starting on a busy machine.
        for (int tries = 0; tries < 50 && listener.source == nullptr; ++tries) {
            listener.source = open("corvella-clicks");
            if (listener.source == nullptr) pause_for(0.2);
        }
        listener.sink = open("corvella-listener");
        ASSERT_TRUE(listener.source != nullptr && listener.sink != nullptr) << "no JACK server " << server;
        ASSERT_EQ(jack_get_sample_rate(listener.sink), rate);
        listener.out = jack_port_register(listener.source, "click", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        for (int c = 0; c < 2; ++c)
            listener.in[c] = jack_port_register(listener.sink, ("in_" + std::to_string(c + 1)).c_str(),
                                                JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(listener.source, Listener::play, &listener);
        jack_set_process_callback(listener.sink, Listener::listen, &listener);
        ASSERT_EQ(jack_activate(listener.source), 0);
        ASSERT_EQ(jack_activate(listener.sink), 0);
        std::vector<std::string> inputs, outputs; // the standalone's ports
        auto names = [&](unsigned long flags) {
            std::vector<std::string> found;
            if (char const** ports = jack_get_ports(listener.sink, "^Corvella", JACK_DEFAULT_AUDIO_TYPE, flags)) {
                for (char const** p = ports; *p != nullptr; ++p) found.emplace_back(*p);
                jack_free(ports);
            }
            return found;
        };
        for (int tries = 0; tries < 50 && (inputs.size() < 2 || outputs.size() < 2); ++tries, pause_for(0.1)) {
            inputs = names(JackPortIsInput);
            outputs = names(JackPortIsOutput);
        }
        ASSERT_EQ(inputs.size(), 2u);
        ASSERT_EQ(outputs.size(), 2u);
        for (int c = 0; c < 2; ++c) {
            ASSERT_EQ(jack_connect(listener.source, jack_port_name(listener.out), inputs[c].c_str()), 0);
            ASSERT_EQ(jack_connect(listener.sink, outputs[c].c_str(), jack_port_name(listener.in[c])), 0);
        }
        // The impulse response as written (the start-up program leaves it whole), once the first
        // build has loaded it.
        double early = 0.0, late = 0.0;
        for (int tries = 0; tries < 20 && early < 1e-3; ++tries) std::tie(early, late) = listener.measure(1);
        ASSERT_GT(early, 1e-3) << "the standalone passed no reverb; was the impulse response loaded?";
        std::tie(early, late) = listener.measure(3);
        share_before = late / early;
    }

    void TearDown() override
    {
        if (listener.sink != nullptr) jack_deactivate(listener.sink);
        if (listener.source != nullptr) jack_deactivate(listener.source);
    }

    bool x(std::string const& commands) const
    {
        return std::system(("bash -c '" + environment + commands + "'").c_str()) == 0;
    }

    // Late-to-early share once it has fallen below `bound` (a rebuilt IR takes a moment to be heard).
    double share_once_below(double bound)
    {
        double share = share_before;
        for (int tries = 0; tries < 10 && !(share < bound); ++tries) {
            auto const [early, late] = listener.measure(2);
            EXPECT_GT(early, 1e-3);
            share = early > 0 ? late / early : share;
        }
        return share;
    }

    fs::path out;
    char display[16] = {}, server[48] = {};
    std::string environment, window;
    Processes processes;
    Listener listener;
    double share_before = 0.0;
};

// Where a control of the IR1 Edit page sits in the window, as the off-screen renderer lays it out.
struct Cell {
    int x = 0, y = 0, w = 0, h = 0;
    int centre_x() const { return x + w / 2; }
    int dial_y() const { return y + 35; } // the dial's centre, below its label
};

Cell locate(std::string const& key)
{
    Cell c;
    // (In sanitizer builds the tool would report the font library's own leaks.)
    std::string const command = std::string("ASAN_OPTIONS=detect_leaks=0 '") + CORVELLA_EDITOR_SHOT_PROGRAM +
                                "' --page 'IR1 Edit' --locate " + key;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        if (std::fscanf(pipe, "%d %d %d %d", &c.x, &c.y, &c.w, &c.h) != 4) c = {};
        pclose(pipe);
    }
    return c;
}

TEST_F(StandaloneWindow, DecayAndSustainKnobsTurnUnderXdotoolAndTheEngineHearsThem)
{
    Cell const decay = locate("ir1_adshr_d"), sustain = locate("ir1_adshr_s");
    ASSERT_GT(decay.w, 0);
    ASSERT_GT(sustain.w, 0);
    auto at = [&](int x, int y) {
        return "mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y) + " ";
    };
    ASSERT_TRUE(x("import -window " + window + " " + (out / "before.png").string()));
    // Decay three wheel notches up (30 % of its range, 9 % of the response); the sustain knob
    // dragged from its full level up and to the left of its centre, to about a third.
    int const sx = sustain.centre_x(), sy = sustain.dial_y();
    ASSERT_TRUE(x("xdotool " + at(decay.centre_x(), decay.dial_y()) + "click 4 click 4 click 4; sleep 0.5; xdotool " +
                  at(sx, sy) + "mousedown 1 " + at(sx, sy - 10) + at(sx - 18, sy - 25) + "mouseup 1; sleep 1"));
    ASSERT_TRUE(x("import -window " + window + " " + (out / "after.png").string()));
    double const share_after = share_once_below(0.5 * share_before);

    std::cout << "Editor window screenshots: " << out.string() << "\n";
    // The decay value (below its knob) and the sustain knob changed; the title bar did not.
    EXPECT_GT(difference(out / "before.png", out / "after.png", decay.x + 2, decay.y + decay.h - 16, decay.w - 4, 16), 0);
    EXPECT_GT(difference(out / "before.png", out / "after.png", sx - 30, sy - 25, 60, 60), 0);
    EXPECT_EQ(difference(out / "before.png", out / "after.png", 0, 0, 400, 30), 0);

    // The engine: before, as much energy late as the flat noise gives (200 ms late against 20 ms
    // early: about 10 to 1); after, the late part follows the lowered sustain level (its square,
    // some 0.15) while the first milliseconds keep most of theirs.
    std::cout << "Late to early energy: " << share_before << " before, " << share_after << " after\n";
    EXPECT_GT(share_before, 5.0);
    EXPECT_LT(share_after, 0.5 * share_before);
}

// A file manager's drag and drop, played by this test as the XDND source: the standalone's window
// accepts a text/uri-list, asks for it at the drop and says it is finished; the dropped impulse
// response, 10 ms of noise, is then heard (nothing left in the late part) and drawn.
TEST_F(StandaloneWindow, AnImpulseResponseDroppedOntoTheWindowIsLoadedAndShown)
{
    fs::path const dropped = out / "data/Dropped IRs/Short Room.wav";
    {
        std::mt19937 random(3);
        std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
        corvella::test::PlanarAudio ir(2, std::vector<float>(rate / 100));
        for (auto& channel : ir)
            for (float& s : channel) s = noise(random);
        fs::create_directories(dropped.parent_path());
        ASSERT_TRUE(corvella::test::write_planar_wav(dropped, ir, static_cast<int>(rate)));
    }
    ASSERT_TRUE(x("import -window " + window + " " + (out / "before-drop.png").string()));
    XdndDrop const drop = drop_file(display, std::stoul(window), "file://" + uri_escaped(dropped.string()), 400, 80);
    EXPECT_TRUE(drop.aware) << "the window does not announce XDND";
    EXPECT_TRUE(drop.accepted_position) << "the window refused the drag";
    EXPECT_TRUE(drop.data_requested) << "the window never asked for the dropped list";
    EXPECT_TRUE(drop.finished_accepted) << "the window did not finish the drop";
    double const share_after = share_once_below(0.05 * share_before);
    pause_for(0.5);
    ASSERT_TRUE(x("import -window " + window + " " + (out / "after-drop.png").string()));
    std::cout << "Late to early energy: " << share_before << " before the drop, " << share_after << " after\n";
    EXPECT_LT(share_after, 0.05 * share_before);
    // The display panel at the top redrew the new response; the tab bar did not change.
    EXPECT_GT(difference(out / "before-drop.png", out / "after-drop.png", 8, 40, 1000, 100), 0);
}

} // namespace

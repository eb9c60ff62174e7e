#pragma once

// What the editor needs of the host-binding object, and nothing more: parameter values by key
// with the host's gesture brackets, custom-data blocks by id, and recompute requests by name. The
// in-process host serves the tools and tests through InProcessEditorHost; the plug-in window
// serves it through the format's parameter path and direct access to the parameters object.
//
// Threading: UI thread only; an adapter forwards to objects that take their own locks.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace corvella::editor {

// A file the user is asked for (eject buttons, bank load/save, export).
struct FileDialog {
    std::string title;
    bool save = false;                   // choose a name to write instead of an existing file
    std::vector<std::string> extensions; // ".wav", ".fxb" ...; empty: any file
    std::string start_folder;            // "" lets the dialog choose
    std::string default_name;            // for save dialogs
    // A file that is part of the plug-in's state (an IR path): formats whose host offers its own
    // dialog for such files show that one, and the host hands the path to the instance as well.
    std::string state_key;
};

class EditorHost {
public:
    virtual ~EditorHost() = default;

    // Unity value of a host parameter (or of a change-path key such as "ir1_tail_variant").
    virtual float get_parameter(std::string const& key) = 0;
    // A user edit: begin, any number of sets, end, so that hosts record one automation gesture.
    virtual void begin_gesture(std::string const& key) = 0;
    // A value that the key's host parameter cannot hold (the middle state of an STS switch, whose
    // host parameter is on/off) goes into the program directly; hosts automate only 0 and 1 there.
    virtual void set_parameter(std::string const& key, float unity) = 0;
    virtual void end_gesture(std::string const& key) = 0;

    // Custom data by id; get copies at most `capacity` bytes and returns the size reported.
    virtual bool set_custom_data(int id, void const* data, std::size_t size) = 0;
    virtual std::size_t get_custom_data(int id, void* data, std::size_t capacity) = 0;

    // Raises the recompute request a "force_..." key names (after a command changed the program).
    virtual void request(std::string const& force_key) = 0;
    // Every recomputation at once (a program reset).
    virtual void request_full_recompute() = 0;
    // Hands the current program to the engine without naming a recomputation.
    virtual void hand_over_program() = 0;

    // Mouse down, drag and up on a bound control are offered to the host first, with the modifier
    // state (some hosts use modifier clicks for their own automation gestures); true claims them.
    // action: 0 down, 1 drag, 2 up.
    virtual bool claim_mouse(std::string const& key, int action, unsigned modifiers)
    {
        (void)key, (void)action, (void)modifiers;
        return false;
    }

    // Asks the user for a file. `chosen` runs later on the UI thread with the chosen path, and not
    // at all when the user cancels. False when this host can show no dialog (nothing happens).
    virtual bool choose_file(FileDialog const& dialog, std::function<void(std::string const& path)> chosen)
    {
        (void)dialog, (void)chosen;
        return false;
    }

    // Sample rate the instance runs at (for texts that show times at the current rate).
    virtual double sample_rate() = 0;
    // Latency in samples the running instance uses (0 in zero-latency mode).
    virtual int running_latency() = 0;
};

// True when the host parameter of `key` can carry `unity` (every value but the middle ones of an
// on/off parameter); false also for keys without a host parameter.
bool host_parameter_holds(std::string const& key, float unity);

} // namespace corvella::editor

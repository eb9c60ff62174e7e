#pragma once

// A whole instance in-process with the Corvella editor on top of it, for the page tests.

#include "editor/editor_view.h"
#include "editor/in_process_editor_host.h"
#include "host/demogain_parameters.h"
#include "host/in_process_host.h"
#include "ui_test_support.h"

#include <memory>

namespace corvella::test {

struct EditorFixture {
    host::InProcessHost host;
    std::unique_ptr<editor::InProcessEditorHost> binding;
    std::unique_ptr<editor::CEditorView> view;

    explicit EditorFixture(editor::EditorOptions options = {0, 0, 0, 0})
    {
        host.create_instance(host::Variant::stereo_to_stereo, 48000.0);
        binding = std::make_unique<editor::InProcessEditorHost>(host);
        view = std::make_unique<editor::CEditorView>(*binding, options);
    }
    DemoGain_Parameters& parameters() { return host.parameters(); }
    ui::CRoot& root() { return view->root(); }
    VST_Plugin_Program current() const
    {
        auto bank = const_cast<host::InProcessHost&>(host).parameters().bank_copy();
        return bank[static_cast<std::size_t>(current_program_index(bank.data()))];
    }
    void clear_requests()
    {
        PendingRequests none{};
        host.set_custom_data(custom_data::pending_requests, &none, sizeof none);
    }
};

} // namespace corvella::test

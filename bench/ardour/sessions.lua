-- Instance start-up in Ardour 7, headless (ardour7-lua, dummy backend). Run from the build folder:
--   LV2_PATH=$PWD/plugin-bundles/lv2 ardour7-lua ../bench/ardour/sessions.lua
-- Creates a session, adds instances one by one to a stereo track (timing each), saves it with 0
-- and with 10 instances, then times opening each saved session: the difference is what ten
-- instances add to opening a session. Needs Ardour 7 (apt-get install ardour); the project's
-- scripts do not install it.
local function now_ms()
    local f = io.popen("date +%s%N")
    local t = tonumber(f:read("*l"))
    f:close()
    return t / 1e6
end

local folder = os.tmpname()
os.remove(folder)
AudioEngine:set_backend("None (Dummy)", "", "")
AudioEngine:start(false)

local function make(name, instances)
    local s = create_session(folder .. "/" .. name, name, 48000)
    assert(s, "the session could not be created")
    local track = s:new_audio_track(2, 2, nil, 1, "t", ARDOUR.PresentationInfo.max_order,
                                    ARDOUR.TrackMode.Normal, true):front()
    for i = 1, instances do
        local t0 = now_ms()
        local p = ARDOUR.LuaAPI.new_plugin(s, "urn:tarnwick:corvella", ARDOUR.PluginType.LV2, "")
        assert(not p:isnil(), "the LV2 bundle was not found: set LV2_PATH")
        track:add_processor_by_index(p, 0, nil, true)
        if i <= 3 then print(string.format("%s: instance %d added in %.0f ms", name, i, now_ms() - t0)) end
    end
    s:save_state("", false, false, false, false, false)
    close_session()
end

local function open(name)
    local t0 = now_ms()
    assert(load_session(folder .. "/" .. name, name), "the session could not be opened")
    local ms = now_ms() - t0
    close_session()
    return ms
end

make("empty", 0)
make("ten", 10)
for round = 1, 2 do
    print(string.format("round %d: empty session opened in %.0f ms, with ten instances in %.0f ms", round,
                        open("empty"), open("ten")))
end
os.execute("rm -rf '" .. folder .. "'")

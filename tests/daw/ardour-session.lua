-- One session in Ardour's headless Lua interpreter (ardour7-lua) with Veltro
-- on a MIDI track: set the tempo map, wait until the daemon stand-in sees the
-- plug-in's stream, roll, stop, close. Prints "ardour.*=" lines for the checks.
--
--   ardour7-lua ardour-session.lua SESSION_DIR BPM NUMERATOR DENOMINATOR ROLL_SECONDS EVENTS_FILE
--
-- Any failure ends the interpreter with an error before the transport rolls;
-- the runner treats missing report lines as a failed session.

local sessionDir = assert (arg[1], "session directory missing")
local bpm = assert (tonumber (arg[2]), "tempo missing")
local numerator = assert (tonumber (arg[3]), "numerator missing")
local denominator = assert (tonumber (arg[4]), "denominator missing")
local rollSeconds = assert (tonumber (arg[5]), "roll length missing")
local eventsFile = assert (arg[6], "events file missing")

local kRate = 48000
local kStreamWaitSeconds = 10

local function report (key, value)
	print ("ardour." .. key .. "=" .. tostring (value))
	io.stdout:flush ()
end

AudioEngine:set_backend ("None (Dummy)", "", "")
local session = create_session (sessionDir, "veltro-daw", kRate)
assert (session, "the session could not be created")
report ("rate", Session:nominal_sample_rate ())
report ("blockSize", Session:get_block_size ())

-- The whole map is replaced in one edit. Every fetch_writable must be matched by
-- update (or abort_update), or the interpreter aborts when it exits.
local tm = Temporal.TempoMap.fetch_writable ()
local ok, err = pcall (function ()
	tm:set_tempo (Temporal.Tempo (bpm, bpm, 4), Temporal.timepos_t (0))
	tm:set_meter (Temporal.Meter (numerator, denominator), Temporal.timepos_t (0))
end)
if ok then
	Temporal.TempoMap.update (tm)
else
	Temporal.TempoMap.abort_update ()
	error ("tempo map edit failed: " .. tostring (err))
end
tm = nil

do
	local map = Temporal.TempoMap.read ()
	report ("tempo", map:quarters_per_minute_at (Temporal.timepos_t (0)))
	map = nil
end

local info = ARDOUR.LuaAPI.new_plugin_info ("Veltro", ARDOUR.PluginType.VST3)
assert (not info:isnil (), "Veltro is not among Ardour's VST3 plug-ins (was the bundle scanned?)")

local tracks = Session:new_midi_track (
	ARDOUR.ChanCount (ARDOUR.DataType ("midi"), 1),
	ARDOUR.ChanCount (ARDOUR.DataType ("audio"), 2),
	false, info, nil, nil, 1, "Veltro", ARDOUR.PresentationInfo.max_order,
	ARDOUR.TrackMode.Normal, true, false)
assert (tracks:size () == 1, "the MIDI track was not created")

local hosted = false
for t in tracks:iter () do
	local i = 0
	while true do
		local p = t:nth_plugin (i)
		if p:isnil () then break end
		if p:name () == "Veltro" then hosted = true end
		i = i + 1
	end
end
assert (hosted, "the track has no Veltro instance")
report ("hosted", 1)

-- The plug-in sends tempo and time signature as soon as the stand-in has set up
-- its side of the channel, transport or not. Rolling before that would leave
-- the start to the handshake's timing.
local waited = 0
local streaming = false
while waited < kStreamWaitSeconds do
	local text = ARDOUR.LuaAPI.file_get_contents (eventsFile)
	if text and text:find ("tempo ", 1, true) then
		streaming = true
		break
	end
	sleep (0.05)
	waited = waited + 0.05
end
assert (streaming, "the stand-in saw no stream from the plug-in within " .. kStreamWaitSeconds .. " s")
report ("streamSeenAfter", string.format ("%.2f", waited))

report ("rollFrom", Session:transport_sample ())
Session:request_roll (ARDOUR.TransportRequestSource.TRS_UI)
sleep (rollSeconds)
report ("stopRequestedAt", Session:transport_sample ())
Session:request_stop (false, false, ARDOUR.TransportRequestSource.TRS_UI)

local stopped = false
for _ = 1, 100 do
	if not Session:transport_rolling () then
		stopped = true
		break
	end
	sleep (0.02)
end
assert (stopped, "the transport did not stop")
report ("stoppedAt", Session:transport_sample ())

-- Let the stop reach the stand-in through the plug-in's delay ring.
sleep (1.0)

close_session ()
report ("closed", 1)

-- tq7300.lua - Wireshark dissector for captures of the TQ7300 serial line
-- written by tq73 --capture (pcapng, link type LINKTYPE_USER0 = 147).
--
-- Written for the Lua 5.2 of Wireshark 3.x and 4.0 (math.floor, bit32), which
-- newer releases run too.
--
-- Every packet begins with two bytes of tq73's: the direction (0 to the
-- device, 1 from it) and the mode (0 application, 1 boot). Then come the
-- line's bytes: one application-mode frame (STX, command or status, 16-bit
-- length, payload, ETX, checksum, CR), or one boot-mode step (host) or its
-- one-byte reply (device). The words are those of tq73 --decode.
--
-- Install: copy this file into Wireshark's Lua plugin folder (Help > About >
-- Folders; on Debian /usr/lib/x86_64-linux-gnu/wireshark/plugins/), or run
-- tshark -X lua_script:tq7300.lua -r capture.pcapng.

local proto = Proto("tq7300", "TQ7300 serial line")

local directions = { [0] = "to device", [1] = "from device" }
local modes = { [0] = "application", [1] = "boot" }

local f = {
    direction = ProtoField.uint8("tq7300.direction", "Direction", base.DEC, directions),
    mode = ProtoField.uint8("tq7300.mode", "Mode", base.DEC, modes),
    text = ProtoField.string("tq7300.text", "Decoding"),
    command = ProtoField.uint8("tq7300.command", "Command", base.HEX),
    status = ProtoField.uint8("tq7300.status", "Status", base.HEX),
    accepted = ProtoField.bool("tq7300.accepted", "Accepted"),
    length = ProtoField.uint16("tq7300.length", "Payload length", base.DEC),
    payload = ProtoField.bytes("tq7300.payload", "Payload"),
    subcode = ProtoField.uint8("tq7300.sub_code", "Sub-code", base.HEX),
    address = ProtoField.uint24("tq7300.address", "Address", base.HEX),
    count = ProtoField.uint16("tq7300.count", "Count", base.DEC),
    checksum = ProtoField.uint8("tq7300.checksum", "Checksum", base.HEX),
    sound = ProtoField.bool("tq7300.sound", "Sound (trailer and checksum right)"),
    fault = ProtoField.string("tq7300.fault", "Fault"),
    boot_step = ProtoField.string("tq7300.boot_step", "Boot-mode step"),
    reply = ProtoField.uint8("tq7300.reply", "Reply", base.HEX),
    right = ProtoField.bool("tq7300.right", "Echo right"),
    error = ProtoField.bool("tq7300.error", "Error bit set"),
}
proto.fields = f

local blocks = {
    [0x0A] = { 0x3000, 0x33FF }, [0x0B] = { 0x3400, 0x37FF }, [0x0C] = { 0x3800, 0x3BFF },
    [0x0D] = { 0x3C00, 0x3FFF }, [0x03] = { 0xA000, 0xBFFF }, [0x02] = { 0xC000, 0xDFFF },
    [0x01] = { 0xE000, 0xEFFF }, [0x00] = { 0xF000, 0xFFFF },
}

-- The device's day number (day 0 is 1 January 2000, every fourth year a leap year).
local function day_to_date(n)
    local y = math.floor(n / 1461) * 4
    local r = n % 1461
    local leap = r <= 365
    if r >= 366 then
        r = r - 1
        y = y + math.floor(r / 365)
        r = r % 365
    end
    local months = { 31, leap and 29 or 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 }
    for m = 1, 12 do
        if r < months[m] then return 2000 + y, m, r + 1 end
        r = r - months[m]
    end
    return 2000 + y, 12, 31
end

local function le16(t, at) return t:range(at, 2):le_uint() end
local function le24(t, at) return t:range(at, 3):le_uint() end

local function is_bcd(b) return math.floor(b / 16) <= 9 and b % 16 <= 9 end

-- The payload length each command takes (nil: any; a 'P' that carries data).
local function expected_payload(c, tvb, n)
    local fixed = { [0x20] = 5, [0x22] = 1, [0x30] = 1, [0x32] = 1, [0x31] = 2, [0x40] = 6, [0x41] = 5 }
    if fixed[c] then return fixed[c] end
    if c == 0x50 then
        if n < 1 or tvb:len() < 5 then return nil end
        local sub = tvb(4, 1):uint()
        if sub == 0x04 or sub == 0x44 or sub == 0x02 then return 6 end
        return nil
    end
    return 0
end

-- What a request is, as tq73 --decode says it; adds its fields to the tree.
local function name_request(tvb, tree, n)
    local c = tvb(1, 1):uint()
    local p = 4
    local function has(k) return n >= k and tvb:len() >= p + k end
    local function byte(i) return tvb(p + i, 1):uint() end
    if c == 0x20 then
        if not has(5) then return "clock set" end
        local y, m, d = day_to_date(le16(tvb, p))
        local t = string.format("clock set %04d-%02d-%02d %02X:%02X:%02X", y, m, d, byte(2), byte(3), byte(4))
        if not (is_bcd(byte(2)) and is_bcd(byte(3)) and is_bcd(byte(4))) then t = t .. " (not packed BCD)" end
        return t
    elseif c == 0x21 then return "clock query"
    elseif c == 0x50 then
        if not has(1) then return "memory access (no sub-code)" end
        local sub = byte(0)
        tree:add(f.subcode, tvb(p, 1))
        if sub == 0x04 or sub == 0x44 or sub == 0x02 then
            local what = sub == 0x04 and "flash read" or sub == 0x44 and "flash erase" or "area read"
            if not has(6) then return what end
            tree:add_le(f.count, tvb(p + 4, 2))
            if sub == 0x02 then return string.format("area read, %d bytes", le16(tvb, p + 4)) end
            tree:add_le(f.address, tvb(p + 1, 3))
            return string.format("%s 0x%06X, %d bytes", what, le24(tvb, p + 1), le16(tvb, p + 4))
        elseif sub == 0x84 then
            if not has(4) then return "flash write" end
            tree:add_le(f.address, tvb(p + 1, 3))
            return string.format("flash write 0x%06X, %d bytes", le24(tvb, p + 1), n - 4)
        elseif sub == 0x83 then
            return n > 4 and string.format("pattern write, %d bytes", n - 4) or "pattern write, empty"
        elseif sub == 0x81 then
            if not has(4) then return "record write" end
            return string.format("record write, selector %d, %d bytes", byte(1), n - 4)
        end
        return string.format("memory access, unknown sub-code 0x%02X", sub)
    elseif c == 0x60 then return "stop request"
    elseif c == 0x61 then return "resume request"
    elseif c == 0x62 then return "request 0x62"
    elseif c >= 0x70 and c <= 0x72 then return string.format("model request %s (0x%02X)", string.char(c), c)
    elseif c == 0x22 or c == 0x30 or c == 0x32 then
        local t = c == 0x30 and "record command 0" or string.format("request 0x%02X", c)
        return has(1) and string.format("%s, value 0x%02X", t, byte(0)) or t
    elseif c == 0x31 then
        if not has(2) then return "record command 1" end
        return string.format("record command 1, length byte 0x%02X, value 0x%02X", byte(0), byte(1))
    elseif c == 0x40 then
        if not has(6) then return "address command" end
        return string.format("address command 0x%06X, count %d, value 0x%02X", le24(tvb, p), le16(tvb, p + 3), byte(5))
    elseif c == 0x41 then
        if not has(5) then return "scaled command" end
        return string.format("scaled command, level 0x%04X, span 0x%04X, code 0x%02X", le16(tvb, p), le16(tvb, p + 2),
            byte(4))
    end
    return nil
end

local function describe_request(tvb, tree, n)
    local c = tvb(1, 1):uint()
    local t = name_request(tvb, tree, n)
    if t == nil then return string.format("unknown command 0x%02X", c) end
    local want = expected_payload(c, tvb, n)
    if want ~= nil and n ~= want then
        t = t .. string.format(" (payload %d bytes, the command takes %d)", n, want)
    elseif c == 0x50 and n < 4 then
        t = t .. string.format(" (payload %d bytes, a memory access takes at least 4)", n)
    end
    return t
end

-- A clock reading as the console takes it: day number, BCD time, weekday.
local function clock_reading(tvb, n)
    if (n ~= 5 and n ~= 6) or tvb:len() < 4 + n then return "" end
    local y, m, d = day_to_date(le16(tvb, 4))
    local t = string.format(": clock %04d-%02d-%02d %02X:%02X:%02X", y, m, d, tvb(6, 1):uint(), tvb(7, 1):uint(),
        tvb(8, 1):uint())
    if n == 6 then t = t .. string.format(", weekday %d", tvb(9, 1):uint()) end
    return t
end

-- The session as it was read on the first pass: the last request (which an
-- answer is named after) and the boot step a reply answers.
local state = {}
local seen = {}

function proto.init()
    state = { request = nil, command = nil, awaits = nil, want = nil, page = 0, wake = false }
    seen = {}
end

local function frame_text(tvb, tree, sent)
    local len = tvb:len()
    if len < 1 or tvb(0, 1):uint() ~= 0x02 then
        return string.format("not a frame: it begins with 0x%02X, not STX", len > 0 and tvb(0, 1):uint() or 0)
    end
    if len < 4 then return string.format("cut: %d bytes, too few for a frame's header", len) end
    local n = le16(tvb, 2)
    tree:add_le(f.length, tvb(2, 2))
    if n > 0 and len > 4 then tree:add(f.payload, tvb(4, math.min(n, len - 4))) end
    local text
    if sent then
        tree:add(f.command, tvb(1, 1))
        text = describe_request(tvb, tree, n)
        if tvb(1, 1):uint() == 0x60 and state.wake then text = text .. ", after the wake byte 5C" end
        state.request = text
        state.command = tvb(1, 1):uint()
    else
        local status = tvb(1, 1):uint()
        tree:add(f.status, tvb(1, 1))
        tree:add(f.accepted, status == 0x30)
        local to = state.request and ("answer to " .. state.request:match("^[^,]*") .. ": ") or "answer: "
        text = to .. (status == 0x30 and "accepted" or string.format("refused, status 0x%02X", status))
        if n > 0 then text = text .. string.format(", %d data byte%s", n, n == 1 and "" or "s") end
        if state.command == 0x21 and status == 0x30 then text = text .. clock_reading(tvb, n) end
    end
    state.wake = false
    local want = n + 7
    local fault
    if len < want then
        fault = string.format("cut: %d of %d bytes", len, want)
    else
        local sum = 0
        for i = 0, 3 + n do sum = sum + tvb(i, 1):uint() end
        sum = (sum + 3) % 256
        tree:add(f.checksum, tvb(5 + n, 1))
        if tvb(4 + n, 1):uint() ~= 0x03 then
            fault = string.format("no ETX: 0x%02X where 03 belongs", tvb(4 + n, 1):uint())
        elseif tvb(5 + n, 1):uint() ~= sum then
            fault = string.format("bad checksum: 0x%02X, want 0x%02X", tvb(5 + n, 1):uint(), sum)
        elseif tvb(6 + n, 1):uint() ~= 0x0D then
            fault = string.format("no CR: 0x%02X where 0D belongs", tvb(6 + n, 1):uint())
        elseif len > want then
            fault = string.format("%d bytes beyond the frame's %d", len - want, want)
        end
    end
    tree:add(f.sound, fault == nil)
    if fault then
        tree:add(f.fault, fault)
        text = text .. "; " .. fault
    end
    return text
end

local function sum_of(tvb)
    local s = 0
    for i = 0, tvb:len() - 1 do s = s + tvb(i, 1):uint() end
    return s % 256
end

-- One host step of the boot-mode protocol (the link writes one step at a time).
local function boot_step(tvb)
    local b = tvb(0, 1):uint()
    local len = tvb:len()
    if b == 0x45 and len == 3 then
        local code = tvb(1, 1):uint()
        local blk = blocks[code]
        state.awaits = "erase"
        local t = string.format("block erase code 0x%02X (%s)", code,
            blk and string.format("0x%04X-0x%04X", blk[1], blk[2]) or "no such block")
        if tvb(2, 1):uint() ~= code then t = t .. string.format("; the code's repeat is 0x%02X", tvb(2, 1):uint()) end
        return t
    elseif b == 0x57 and len == 1 then
        state.awaits = "write mode"
        return "enter write mode W"
    elseif b == 0x55 and len == 1 then
        state.awaits = "program"
        return string.format("program page 0x%04X U", state.page)
    elseif b == 0xFF and len == 1 then
        state.awaits = nil
        return "end 0xFF: back to the application (no reply)"
    elseif len == 2 then
        state.page = le16(tvb, 0)
        state.want = (tvb(0, 1):uint() + tvb(1, 1):uint()) % 256
        state.awaits = "address"
        return string.format("page address 0x%04X", state.page)
    elseif len == 128 then
        state.want = sum_of(tvb)
        state.awaits = "data"
        return string.format("page data 0x%04X, 128 bytes, sum 0x%02X", state.page, state.want)
    end
    return string.format("%d bytes: no boot-mode step", len)
end

local function echo(what, r, want)
    if r == want then return string.format("%s 0x%02X: right", what, r), true end
    return string.format("%s 0x%02X, want 0x%02X: wrong", what, r, want), false
end

local function status_text(what, r, bit, failed)
    local err = r > 0x80 and bit32.band(r, bit) ~= 0
    local t = string.format("%s status 0x%02X: %s", what, r, err and "error" or "no error")
    if err then t = t .. string.format(", bit 0x%02X set (%s)", bit, failed) end
    return t, err
end

local function boot_reply(r)
    local a = state.awaits
    state.awaits = nil
    if a == "erase" then
        local t, e = status_text("erase", r, 0x20, "the block is not erased")
        return t, nil, e
    elseif a == "program" then
        local t, e = status_text("program", r, 0x10, "the page is not programmed")
        return t, nil, e
    elseif a == "write mode" then return echo("write mode reply", r, 0xAA)
    elseif a == "address" then return echo("address echo", r, state.want)
    elseif a == "data" then return echo("data sum echo", r, state.want)
    end
    return string.format("reply 0x%02X to no step", r)
end

function proto.dissector(buffer, pinfo, tree)
    if buffer:len() < 2 then return 0 end
    pinfo.cols.protocol = "TQ7300"
    local dir = buffer(0, 1):uint()
    local mode = buffer(1, 1):uint()
    local sub = tree:add(proto, buffer(), "TQ7300 serial line")
    sub:add(f.direction, buffer(0, 1))
    sub:add(f.mode, buffer(1, 1))
    local line = buffer(2):tvb()
    local text, right, err
    local first = not pinfo.visited and seen[pinfo.number] == nil
    if mode == 0 and dir == 0 and line:len() == 1 and line(0, 1):uint() == 0x5C then
        text = "wake byte 5C"
        if first then state.wake = true end
    elseif mode == 0 then
        text = frame_text(line, sub, dir == 0)
    elseif dir == 0 then
        text = first and boot_step(line) or (seen[pinfo.number] or {}).text
        sub:add(f.boot_step, text)
    else
        sub:add(f.reply, line(0, 1))
        if first then
            text, right, err = boot_reply(line(0, 1):uint())
        else
            local s = seen[pinfo.number] or {}
            text, right, err = s.text, s.right, s.err
        end
        if right ~= nil then sub:add(f.right, right) end
        if err ~= nil then sub:add(f.error, err) end
    end
    -- Later passes (the GUI redraws, tshark -2) take what the first pass found:
    -- an answer's request and a reply's step lie in packets before it.
    if first then
        seen[pinfo.number] = { text = text, right = right, err = err }
    elseif seen[pinfo.number] then
        text = seen[pinfo.number].text
    end
    sub:add(f.text, text)
    pinfo.cols.info = (dir == 0 and "-> " or "<- ") .. text
    return buffer:len()
end

local encaps = wtap_encaps or wtap
DissectorTable.get("wtap_encap"):add(encaps.USER0, proto)

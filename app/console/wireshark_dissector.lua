-- The dissector's engine. `flashdesk describe --wireshark` writes the catalogue's tables in front
-- of it: trelink (the protocol), field(), SC / RUN / ARR, STRUCTS, ITEMS, COMMANDS and
-- COMMAND_TYPES.
--
-- A capture's links: USB (LINKTYPE_USER0, one bulk transfer a packet, big-endian), serial
-- (LINKTYPE_USER1, bytes as they crossed the line), the simulator (LINKTYPE_USER2, a header and
-- its data a packet, host order) and USB-CAN (SocketCAN frames of identifiers 0x16666666 and
-- 0x16666667, ISO 15765-2 segments of big-endian packets). Each
-- command is shown with its request; the last transfer of each answer with the response, put
-- together from its transfers.

local HOST_TO_ECU, ECU_TO_HOST = 0x16666666, 0x16666667

local f_command = field(ProtoField.string("trelink.command", "Command"))
local f_request = field(ProtoField.string("trelink.request", "Request"))
local f_response = field(ProtoField.string("trelink.response", "Response"))
local f_command_type = field(ProtoField.uint16("trelink.command_type", "command_type", base.HEX, COMMAND_TYPES))
local f_command_data_size = field(ProtoField.uint16("trelink.command_data_size", "command_data_size"))
local f_response_data_buffer_size = field(ProtoField.uint16("trelink.response_data_buffer_size", "response_data_buffer_size"))
local f_command_dummy = field(ProtoField.uint16("trelink.command_dummy", "dummy"))
local f_response_type = field(ProtoField.uint16("trelink.response_type", "response_type", base.HEX, COMMAND_TYPES))
local f_returning_size = field(ProtoField.uint16("trelink.response_data_returning_size", "response_data_returning_size"))
local f_status = field(ProtoField.uint16("trelink.status", "status", base.HEX))
local f_response_dummy = field(ProtoField.uint16("trelink.response_dummy", "dummy"))
local f_announced_type = field(ProtoField.uint16("trelink.announced_type", "announcement", base.HEX, COMMAND_TYPES))
local f_announced_size = field(ProtoField.uint16("trelink.announced_size", "announced request size"))
local f_piece = field(ProtoField.bytes("trelink.response_piece", "Response data piece"))
local f_note = field(ProtoField.string("trelink.note", "Note"))
trelink.fields = F

local interface_id = Field.new("frame.interface_id")

-- What the first pass learnt of each frame, by frame number; and each link's open exchange.
local frames, links, serial_links = {}, {}, {}
function trelink.init()
    frames, links, serial_links = {}, {}, {}
end

local function command_name(command_type)
    if command_type >= 0xCD00 and command_type <= 0xCDFF then
        local c = COMMANDS[command_type - 0xCD00]
        return c and c[1] or ("COMMAND_" .. (command_type - 0xCD00))
    end
    return string.format("0x%04X", command_type)
end

local function structure_of(command_type, which)
    local c = command_type >= 0xCD00 and COMMANDS[command_type - 0xCD00]
    if not c then return false end
    return c[which]
end

-- Where each array's elements lie: behind the fixed part, each aligned to its element size, in
-- layout order, as the library lays them out. An array that does not fit ends the walk.
local function place_arrays(s, tvb)
    local placed, len = {}, tvb:len()
    if len < s.fixed then return placed end
    local offset = 0
    for i, at in ipairs(s.arrays) do
        local size, count = tvb(at, 1):uint(), tvb(at + 1, 2):uint()
        if count > 0 then
            if size == 0 then break end
            offset = offset + (size - offset % size) % size
            local stop = offset + count * size
            if s.fixed + stop > len then break end
            placed[i] = { s.fixed + offset, stop - offset }
            offset = stop
        end
    end
    return placed
end

-- The structure `ref` (a name, "cfgitem" or false for none) in `tvb` (nil: no bytes).
local function decode(tree, label_field, ref, tvb, little)
    local name = ref
    if ref == "cfgitem" then
        name = ITEMS[(tvb and tvb:len() > 28) and tvb(28, 1):uint() or 0] or ITEMS[0]
    end
    local s = name and STRUCTS[name]
    if not s then
        local item = tvb and tree:add(label_field, tvb(), "NULL") or tree:add(label_field, "NULL")
        if tvb then item:add(f_note, tvb(), tvb:len() .. " bytes where the command has none") end
        return
    end
    if not tvb then
        tree:add(label_field, name):add(f_note, "no bytes")
        return
    end
    local item = tree:add(label_field, tvb(), name)
    local len = tvb:len()
    local placed = place_arrays(s, tvb)
    for _, l in ipairs(s.leaves) do
        local kind, at, size = l[1], l[2], l[3]
        if kind == ARR then
            if at + 3 <= len then
                item:add(l[4], tvb(at, 1))
                item:add(l[5], tvb(at + 1, 2))
                local p = placed[size]
                if p then
                    item:add(l[6], tvb(p[1], p[2]))
                elseif tvb(at + 1, 2):uint() == 0 then
                    item:add(l[6], tvb(at, 0))
                end
            end
        elseif at + size <= len then
            if kind == SC and little then item:add_le(l[4], tvb(at, size)) else item:add(l[4], tvb(at, size)) end
        end
    end
    if len < s.fixed then
        item:add(f_note, "cut short: " .. len .. " of its " .. s.fixed .. " fixed bytes")
    end
end

local function add_word(tree, f, tvb, at, little)
    if little then return tree:add_le(f, tvb(at, 2)) end
    return tree:add(f, tvb(at, 2))
end

local function word(tvb, at, little)
    return little and tvb(at, 2):le_uint() or tvb(at, 2):uint()
end

-- First pass: the frame's part in its link's exchange.
local function learn_command(link, tvb, little)
    links[link] = { type = word(tvb, 0, little), little = little }
    return { kind = "command", type = links[link].type, little = little }
end

local function learn_answer(link, header, data)
    local open = links[link]
    if not open then return { kind = "stray" } end
    if header then
        open.want = word(header, 2, open.little)
        open.parts, open.got = {}, 0
        if open.want == 0 then links[link] = nil end
        local info = { kind = "header", type = open.type, little = open.little }
        if open.want == 0 then info.complete = "" end
        if not data then return info end
        info.kind = "header+data"
    end
    if not open.want then return { kind = "stray" } end
    open.parts[#open.parts + 1] = data:raw()
    open.got = open.got + data:len()
    local info = { kind = header and "header+data" or "data", type = open.type, little = open.little }
    if open.got >= open.want then
        info.complete = table.concat(open.parts):sub(1, open.want)
        links[link] = nil
    end
    return info
end

local function show_header(tree, tvb, little)
    add_word(tree, f_response_type, tvb, 0, little)
    add_word(tree, f_returning_size, tvb, 2, little)
    add_word(tree, f_status, tvb, 4, little)
    add_word(tree, f_response_dummy, tvb, 6, little)
end

-- Shows a frame of a packet link: its header, request or response.
local function show(info, tvb, pinfo, tree, packet)
    local t = tree:add(trelink, tvb())
    local name = info.type and command_name(info.type)
    if name then t:add(f_command, name) end
    local little = info.little
    if info.kind == "announcement" then
        t:add(f_announced_type, tvb(0, 2))
        t:add(f_announced_size, tvb(2, 2))
        pinfo.cols.info = "announcement of a " .. tvb(2, 2):uint() .. "-byte request"
    elseif info.kind == "command" then
        add_word(t, f_command_type, packet, 0, little)
        add_word(t, f_command_data_size, packet, 2, little)
        add_word(t, f_response_data_buffer_size, packet, 4, little)
        add_word(t, f_command_dummy, packet, 6, little)
        local request = packet:len() > 8 and packet(8):tvb() or nil
        decode(t, f_request, structure_of(info.type, 2), request, little)
        pinfo.cols.info = name .. " request, " .. (packet:len() - 8) .. " bytes"
    elseif info.kind == "header" or info.kind == "header+data" or info.kind == "data" then
        local header = info.kind ~= "data" and packet(0, 8) or nil
        if header then
            show_header(t, header:tvb(), little)
            pinfo.cols.info = name .. " answer, status 0x" .. string.format("%04X", word(header:tvb(), 4, little))
                .. ", " .. word(header:tvb(), 2, little) .. " bytes"
        else
            t:add(f_piece, tvb())
            pinfo.cols.info = name .. " response data, " .. tvb:len() .. " bytes"
        end
        if info.complete then
            local response = nil
            if #info.complete > 0 then response = ByteArray.new(info.complete, true):tvb("Response") end
            decode(t, f_response, structure_of(info.type, 3), response, little)
        end
    else
        t:add(f_note, tvb(), "bytes from the ECU outside any exchange")
        pinfo.cols.info = "bytes outside any exchange"
    end
end

-- Who sent the frame, in the source and destination columns.
local function mark_direction(pinfo)
    if pinfo.p2p_dir == 0 then
        pinfo.cols.src, pinfo.cols.dst = "host", "ECU"
    elseif pinfo.p2p_dir == 1 then
        pinfo.cols.src, pinfo.cols.dst = "ECU", "host"
    end
end

local function link_of(pinfo, suffix)
    local id = interface_id()
    return (id and id.value or 0) .. (suffix or "")
end

-- A link's dissector: what each frame is, learnt on the first pass by `learn`, shown by
-- `render` (a frame that is one packet by default).
local function frame_dissector(learn, render)
    return function(tvb, pinfo, tree)
        mark_direction(pinfo)
        pinfo.cols.protocol = "Trelink"
        local info = frames[pinfo.number]
        if not info then
            info = learn(tvb, pinfo, link_of(pinfo))
            frames[pinfo.number] = info
        end
        if render then render(info, tvb, pinfo, tree) else show(info, tvb, pinfo, tree, tvb) end
    end
end

-- USB: one bulk transfer per frame.
local dissect_usb = frame_dissector(function(tvb, pinfo, link)
    if pinfo.p2p_dir == 0 then
        if tvb:len() == 32 and tvb(0, 2):uint() == 0xCD07 then return { kind = "announcement" } end
        if tvb:len() >= 8 then return learn_command(link, tvb, false) end
        return { kind = "stray" }
    end
    local open = links[link]
    if open and not open.want then
        return tvb:len() == 8 and learn_answer(link, tvb, nil) or { kind = "stray" }
    end
    return learn_answer(link, nil, tvb)
end)

-- The simulator: a header and its data per frame, host order.
local dissect_simulator = frame_dissector(function(tvb, pinfo, link)
    if tvb:len() < 8 then return { kind = "stray" } end
    if pinfo.p2p_dir == 0 then return learn_command(link, tvb, true) end
    local info = learn_answer(link, tvb(0, 8):tvb(), tvb:len() > 8 and tvb(8):tvb() or nil)
    if info.kind == "header+data" and not info.complete then info.kind = "header" end
    return info
end)

-- USB-CAN: the ISO 15765-2 segments of the link's two identifiers, put together here as the
-- link puts them together. (Wireshark's own ISO 15765 shows the segments instead when this
-- protocol, trelink_can, is disabled and the frames are decoded as ISO 15765.)
local segment_kinds = { [0] = "single frame", [1] = "first frame", [2] = "consecutive frame", [3] = "flow control" }
local function dissect_can(tvb, pinfo, tree)
    mark_direction(pinfo)
    local info = frames[pinfo.number]
    if not info then
        info = { kind = "segment" }
        local outbound = pinfo.p2p_dir == 0
        local link = link_of(pinfo, outbound and ">" or "<")
        local r = links[link]
        local kind = tvb:len() > 0 and bit32.rshift(tvb(0, 1):uint(), 4) or -1
        if kind == 1 and tvb:len() >= 2 then
            links[link] = { length = bit32.band(tvb(0, 2):uint(), 0xFFF), parts = { tvb(2):raw() }, next = 1 }
        elseif kind == 2 and r and bit32.band(tvb(0, 1):uint(), 0xF) == bit32.band(r.next, 0xF) then
            r.parts[#r.parts + 1] = tvb(1):raw()
            r.next = r.next + 1
        elseif kind == 0 and tvb:len() >= 1 then
            links[link] = { length = bit32.band(tvb(0, 1):uint(), 0xF), parts = { tvb(1):raw() }, next = 1 }
        end
        r = links[link]
        if kind ~= 3 and r and #table.concat(r.parts) >= r.length then
            links[link] = nil
            local packet = table.concat(r.parts):sub(1, r.length)
            info = { kind = "packet", packet = packet, outbound = outbound }
            local ptvb = ByteArray.new(packet, true):tvb("Packet")
            local exchange = link_of(pinfo, "")
            if #packet < 8 then
                info.part = { kind = "stray" }
            elseif outbound then
                info.part = learn_command(exchange, ptvb, false)
            else
                info.part = learn_answer(exchange, ptvb(0, 8):tvb(), #packet > 8 and ptvb(8):tvb() or nil)
                if info.part.kind == "header+data" and not info.part.complete then info.part.kind = "header" end
            end
        end
        frames[pinfo.number] = info
    end
    pinfo.cols.protocol = "Trelink"
    if info.kind == "packet" then
        local ptvb = ByteArray.new(info.packet, true):tvb("Packet")
        show(info.part, ptvb, pinfo, tree, ptvb)
    else
        local kind = tvb:len() > 0 and segment_kinds[bit32.rshift(tvb(0, 1):uint(), 4)] or nil
        pinfo.cols.info = "ISO 15765-2 " .. (kind or "segment")
        tree:add(trelink, tvb()):add(f_note, tvb(), "ISO 15765-2 " .. (kind or "segment") .. " of a packet")
    end
end

-- Serial: bytes as they crossed the line; the connection request and its answer (0xCC: the ECU
-- keeps host byte order), the command, the ECU's 0xCD, its answer and the host's 0xDC. Each
-- command and answer is shown in the frame that completes it.
local function word_of(s, at, little)
    local a, b = s:byte(at + 1), s:byte(at + 2)
    return little and (b * 256 + a) or (a * 256 + b)
end
local function learn_serial(tvb, pinfo, link)
    local st = serial_links[link]
    if not st then
        st = { little = false, out = {}, want = 8, inn = {}, ack = false }
        serial_links[link] = st
    end
    local parts = {}
    local bytes = tvb:raw()
    for i = 1, #bytes do
        local b = bytes:byte(i)
        if pinfo.p2p_dir == 0 then
            if #st.out > 0 or (b ~= 0xC5 and b ~= 0xDC) then
                st.out[#st.out + 1] = string.char(b)
                if #st.out == 8 then st.want = 8 + word_of(table.concat(st.out), 2, st.little) end
                if #st.out == st.want then
                    local packet = table.concat(st.out)
                    local ptvb = ByteArray.new(packet, true):tvb("Packet")
                    parts[#parts + 1] = { packet = packet, part = learn_command(link, ptvb, st.little) }
                    st.out, st.want, st.inn, st.ack = {}, 8, {}, false
                end
            end
        elseif links[link] then
            if not st.ack then
                st.ack = b == 0xCD
            else
                st.inn[#st.inn + 1] = string.char(b)
                local packet = #st.inn >= 8 and table.concat(st.inn) or nil
                if packet and #packet == 8 + word_of(packet, 2, st.little) then
                    local ptvb = ByteArray.new(packet, true):tvb("Packet")
                    local part = learn_answer(link, ptvb(0, 8):tvb(), #packet > 8 and ptvb(8):tvb() or nil)
                    if part.kind == "header+data" and not part.complete then part.kind = "header" end
                    parts[#parts + 1] = { packet = packet, part = part }
                    st.inn, st.ack = {}, false
                end
            end
        elseif b == 0xCC or b == 0xC5 then
            st.little = b == 0xCC
        end
    end
    return { kind = "serial", parts = parts }
end

local dissect_serial = frame_dissector(learn_serial, function(info, tvb, pinfo, tree)
    for _, p in ipairs(info.parts) do
        local ptvb = ByteArray.new(p.packet, true):tvb("Packet")
        show(p.part, ptvb, pinfo, tree, ptvb)
    end
    if #info.parts == 0 then
        tree:add(trelink, tvb()):add(f_note, tvb(), "serial bytes around or within a command or answer")
        pinfo.cols.info = "serial bytes"
    end
end)

local can_dissector = Proto("trelink_can", "Trelink over CAN")
can_dissector.dissector = dissect_can

local usb = Proto("trelink_usb_link", "Trelink USB link")
usb.dissector = dissect_usb
DissectorTable.get("wtap_encap"):add(wtap.USER0, usb)
local simulator = Proto("trelink_simulator", "Trelink simulator link")
simulator.dissector = dissect_simulator
DissectorTable.get("wtap_encap"):add(wtap.USER2, simulator)
local serial = Proto("trelink_serial", "Trelink serial link")
serial.dissector = dissect_serial
DissectorTable.get("wtap_encap"):add(wtap.USER1, serial)
local can_ids = DissectorTable.get("can.extended_id")
if can_ids then
    can_ids:add(HOST_TO_ECU, can_dissector)
    can_ids:add(ECU_TO_HOST, can_dissector)
end

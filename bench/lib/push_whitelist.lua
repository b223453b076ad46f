-- wrk script: every request pushes 10 new random whitelist keys.
math.randomseed(os.time() + tonumber(tostring({}):sub(8), 16))

local function key_bytes()
    local bytes = {}
    for i = 1, 8 do bytes[i] = string.char(math.random(0, 255)) end
    return table.concat(bytes)
end

request = function()
    local records = {}
    for i = 1, 10 do records[i] = "\1" .. key_bytes() end
    return wrk.format("POST", "/post_wl_updates", {["User-Host"] = "bench"},
                      table.concat(records))
end

-- wrk script: every request pushes 10 new descriptors of 50 random values.
math.randomseed(os.time() + tonumber(tostring({}):sub(8), 16))

local function u32(n)
    return string.char(n % 256, math.floor(n / 256) % 256, math.floor(n / 65536) % 256,
                       math.floor(n / 16777216) % 256)
end

local function random_value()
    local bytes = {}
    for i = 1, 8 do bytes[i] = string.char(math.random(0, 255)) end
    return table.concat(bytes)
end

request = function()
    local parts = {}
    for d = 1, 10 do
        parts[#parts + 1] = u32(math.random(0, 1)) .. u32(0) .. u32(50)
        for v = 1, 50 do parts[#parts + 1] = random_value() end
    end
    return wrk.format("POST", "/post_ts_updates", {["User-Host"] = "bench"},
                      table.concat(parts))
end

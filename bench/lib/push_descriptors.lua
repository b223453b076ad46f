-- wrk script: every request pushes 10 new descriptors of 50 values. 49 of each descriptor's
-- values are drawn once per thread; the first one is a per-thread salt and a counter, which
-- makes every descriptor new while keeping the client's own work small next to the server's.
math.randomseed(os.time() + tonumber(tostring({}):sub(8), 16))

local function u32(n)
    return string.char(n % 256, math.floor(n / 256) % 256, math.floor(n / 65536) % 256,
                       math.floor(n / 16777216) % 256)
end

local function random_bytes(count)
    local bytes = {}
    for i = 1, count do bytes[i] = string.char(math.random(0, 255)) end
    return table.concat(bytes)
end

local salt = random_bytes(4)
local tails = {}
for d = 1, 10 do tails[d] = random_bytes(49 * 8) end
local counter = 0

request = function()
    local parts = {}
    for d = 1, 10 do
        counter = counter + 1
        parts[d] = u32(math.random(0, 1)) .. u32(0) .. u32(50) .. u32(counter) .. salt .. tails[d]
    end
    return wrk.format("POST", "/post_ts_updates", {["User-Host"] = "bench"},
                      table.concat(parts))
end

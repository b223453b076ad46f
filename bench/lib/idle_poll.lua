-- wrk script: pulls from the current end, so every answer is empty.
-- The start index comes from the environment (START_INDEX).
local start = os.getenv("START_INDEX") or "0"
wrk.method = "GET"
wrk.path = "/get_wl_updates"
wrk.headers["User-Host"] = "bench"
wrk.headers["startIndex"] = start

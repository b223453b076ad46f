-- wrk script: pulls from the current end, so every answer is empty.
-- The path and start index come from the environment (PULL_PATH, START_INDEX).
local start = os.getenv("START_INDEX") or "0"
wrk.method = "GET"
wrk.path = os.getenv("PULL_PATH") or "/get_wl_updates"
wrk.headers["User-Host"] = "bench"
wrk.headers["startIndex"] = start

-- Byte sieve counting the primes up to n, `repeat` times; the same
-- algorithm as the interpreter's BM_Sieve. Prints "result seconds".
local n = tonumber(arg[1]) or 1000000
local rep = tonumber(arg[2]) or 1
local root = math.floor(math.sqrt(n))
local t0 = os.clock()
local count
for _ = 1, rep do
  local flags = {}
  for i = 0, n do flags[i] = 1 end
  count = 0
  local i = 2
  while i <= n do
    if flags[i] ~= 0 then
      count = count + 1
      if i <= root then
        local j = i * i
        while j <= n do
          flags[j] = 0
          j = j + i
        end
      end
    end
    i = i + 1
  end
end
io.write(string.format("%d %.3f\n", count, os.clock() - t0))

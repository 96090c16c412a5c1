-- Recursive Fibonacci, the same algorithm as the interpreter's BM_Fib.
-- Prints "result seconds".
local n = tonumber(arg[1]) or 30
local function fib(k)
  if k < 2 then return k end
  return fib(k - 1) + fib(k - 2)
end
local t0 = os.clock()
local r = fib(n)
io.write(string.format("%d %.3f\n", r, os.clock() - t0))

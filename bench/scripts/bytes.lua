-- Fills, copies and sums a 1 MiB byte buffer 20 times, byte by byte.
local size = 1048576
local a, b = {}, {}
local sum = 0
for round = 0, 19 do
  for i = 0, size - 1 do a[i] = (i + round) & 255 end
  for i = 0, size - 1 do b[i] = a[i] end
  for i = 0, size - 1 do sum = sum + b[i] end
end
print(sum)

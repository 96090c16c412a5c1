-- Multiplies two 200x200 integer matrices; prints the sum of the product.
local n = 200
local a, b, c = {}, {}, {}
for i = 0, n - 1 do
  for j = 0, n - 1 do
    a[i * n + j] = i + j
    b[i * n + j] = i - j
  end
end
for i = 0, n - 1 do
  for j = 0, n - 1 do
    local s = 0
    for k = 0, n - 1 do s = s + a[i * n + k] * b[k * n + j] end
    c[i * n + j] = s
  end
end
local total = 0
for i = 0, n * n - 1 do total = total + c[i] end
print(total & 0xFFFFFFFF)

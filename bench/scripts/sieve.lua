-- Sieve of Eratosthenes up to 2,000,000; prints the count of primes.
local n = 2000000
local flags = {}
for i = 0, n do flags[i] = true end
local count = 0
for i = 2, n do
  if flags[i] then
    count = count + 1
    for j = i + i, n, i do flags[j] = false end
  end
end
print(count)

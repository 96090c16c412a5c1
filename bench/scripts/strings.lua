-- Builds text: 200,000 numbers formatted and appended to a line that is cut
-- back every 100 numbers; prints the total length.
local line = ""
local total = 0
for i = 0, 199999 do
  line = line .. string.format("%d,", i)
  if i % 100 == 99 then
    total = total + #line
    line = ""
  end
end
print(total)

% expect_equal (actual, expected, what)
% Ends the test with a "FAILED: ..." error showing both values when they
% differ (isequal: same size, class-independent values, text exact).
function expect_equal (actual, expected, what)
  if ~isequal (actual, expected)
    error ('FAILED: %s\n--- expected:\n%s\n--- actual:\n%s', what, ...
           disp_text (expected), disp_text (actual));
  end
end

function text = disp_text (value)
  if ischar (value)
    text = ['"' value '"'];
  else
    text = disp (value);
  end
end

% expect (condition, format, ...)
% Ends the test with a "FAILED: ..." error when condition is not true.
function expect (condition, varargin)
  if ~(islogical (condition) || isnumeric (condition)) || isempty (condition) ...
     || ~all (condition(:))
    error ('FAILED: %s', sprintf (varargin{:}));
  end
end

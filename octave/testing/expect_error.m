% expect_error (code, message, what)
% Evaluates code (a string, in the caller's workspace) and ends the test
% with "FAILED: ..." unless it raises an error whose message is exactly
% message.
function expect_error (code, message, what)
  raised = '';
  try
    evalin ('caller', code);
  catch failure
    raised = failure.message;
  end
  if isempty (raised)
    error ('FAILED: %s: no error from %s', what, code);
  end
  expect_equal (raised, message, sprintf ('%s: error of %s', what, code));
end

% table = message_table (source_dir)
% The module's messages as host/messages.h states them, one field per row
% name (e.g. table.h_range), each with .identifier and .text (the format,
% "%s" the module prefix). The tests build their expected texts from it, so
% the texts are written once.
function table = message_table (source_dir)
  header = fullfile (source_dir, 'host', 'messages.h');
  rows = regexp (fileread (header), ...
                 '^\s*\{message_id::(\w+), "([^"]*)", "([^"]*)"\},\s*$', ...
                 'tokens', 'lineanchors');
  if numel (rows) < 20
    error ('FAILED: only %d message rows read from %s', numel (rows), header);
  end
  table = struct ();
  for k = 1:numel (rows)
    table.(rows{k}{1}) = struct ('identifier', rows{k}{2}, 'text', rows{k}{3});
  end
end

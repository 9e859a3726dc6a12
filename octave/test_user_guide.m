% Runs every Octave example of README.md and docs/octave.md as written, each (sub)section
% in a fresh octave-cli, and checks the output shown after an example; checks
% that the guide lists every message of host/messages.h. Examples that need
% cluster servers (pconnect) are run by octave_parallel_cluster instead.
1;
addpath (fullfile (fileparts (mfilename ('fullpath')), 'testing'));
[build_dir, source_dir, scratch] = test_folders ();

% The text of ```octave and ```text blocks (fences may be indented).
function blocks = fenced_blocks (lines)
  blocks = struct ('kind', {}, 'text', {}, 'line', {});
  k = 1;
  while k <= numel (lines)
    fence = regexp (lines{k}, '^\s*```(\w+)\s*$', 'tokens', 'once');
    if isempty (fence)
      k += 1;
      continue;
    end
    indent = numel (regexp (lines{k}, '^\s*', 'match', 'once'));
    first = k + 1;
    k = first;
    while k <= numel (lines) && isempty (regexp (lines{k}, '^\s*```\s*$', 'once'))
      k += 1;
    end
    body = cellfun (@(line) line(min (indent, numel (line)) + 1:end), lines(first:k - 1), ...
                    'UniformOutput', false);
    blocks(end + 1) = struct ('kind', fence{1}, 'text', strjoin (body, "\n"), 'line', first - 1);
    k += 1;
  end
end

% Timings and paths differ from run to run.
function text = normalised (text)
  text = regexprep (text, '\d+ seconds', 'S seconds');
  text = regexprep (text, 'seconds = \d+', 'seconds = S');
  text = regexprep (text, '[ \t]+\n', "\n");
end

guide_files = {'README.md', fullfile('docs', 'octave.md')};
guide = strjoin (cellfun (@(name) fileread (fullfile (source_dir, name)), guide_files, ...
                          'UniformOutput', false), "\n");

% Every message the module can raise is listed, with its identifier.
messages = message_table (source_dir);
for name = fieldnames (messages)'
  row = messages.(name{1});
  pattern = regexptranslate ('escape', strrep (row.text, '%s', 'VENDRAL'));
  pattern = strrep (pattern, '%d', '\S+?');
  expect (~isempty (regexp (guide, pattern, 'once')), 'the guide lacks the message "%s"', row.text);
  expect (~isempty (strfind (guide, ['`' row.identifier '`'])), ...
          'the guide lacks the identifier %s', row.identifier);
end

% A work folder laid out like the source tree; package lists and prefix of
% its own (a copy of the system's list, so that installed packages still load).
work = fullfile (scratch, 'work');
mkdir (work);
for name = {'build', 'data', 'host', 'classifier', 'cmake'}
  target = build_dir;
  if ~strcmp (name{1}, 'build')
    target = fullfile (source_dir, name{1});
  end
  [status, message] = symlink (target, fullfile (work, name{1}));
  expect (status == 0, 'symlink %s: %s', name{1}, message);
end
mkdir (fullfile (work, 'octave'));
copyfile (fullfile (source_dir, 'octave', 'inst'), fullfile (work, 'octave', 'inst'));
global_list = fullfile (scratch, 'global_packages');
copyfile (pkg ('global_list'), global_list);
prefix = fullfile (scratch, 'packages');
preamble = sprintf (['pkg (''prefix'', ''%s'', ''%s'');\n', ...
                     'pkg (''local_list'', ''%s'');\n', ...
                     'pkg (''global_list'', ''%s'');\n', ...
                     'cd (''%s'');\n'], prefix, prefix, ...
                    fullfile (scratch, 'local_packages'), global_list, work);

% Sections in order, split at every ## and ### heading.
lines = strsplit (guide, "\n", "CollapseDelimiters", false);
headings = find (~cellfun (@isempty, regexp (lines, '^###? ', 'once')));
starts = [headings, numel(lines) + 1];
examples_run = 0;
for s = 1:numel (starts) - 1
  section = lines(starts(s):starts(s + 1) - 1);
  blocks = fenced_blocks (section);
  code = {};
  shown = {};
  for b = 1:numel (blocks)
    if ~strcmp (blocks(b).kind, 'octave') || ~isempty (strfind (blocks(b).text, 'pconnect'))
      continue;
    end
    code{end + 1} = blocks(b).text;
    if b < numel (blocks) && strcmp (blocks(b + 1).kind, 'text')
      shown{end + 1} = blocks(b + 1).text;
    end
  end
  if isempty (code)
    continue;
  end
  all_code = strjoin (code, "\n");
  section_preamble = preamble;
  if isempty (regexp (all_code, 'pkg load vendral|addpath|pkg install|pkg uninstall', 'once'))
    section_preamble = [preamble, "pkg load vendral\n"];
  end
  script = fullfile (scratch, sprintf ('section_%02d.m', s));
  fid = fopen (script, 'w');
  fprintf (fid, '%s%s\n', section_preamble, all_code);
  fclose (fid);
  tic;
  [status, output] = system (sprintf (['octave-cli --no-gui --no-window-system --norc --quiet ', ...
                                       '--no-history "%s" 2>&1'], script));
  printf ('%-45s %5.1f s\n', section{1}, toc);
  expect (status == 0, '"%s" failed:\n%s\n--- output:\n%s', section{1}, all_code, output);
  for k = 1:numel (shown)
    expect (~isempty (strfind (normalised (output), strtrim (normalised (shown{k})))), ...
            '"%s" does not print what the guide shows:\n%s\n--- output:\n%s', section{1}, ...
            shown{k}, output);
  end
  examples_run += numel (code);
end
expect (examples_run >= 10, 'only %d examples found in the guide', examples_run);
printf ('octave_user_guide: %d examples run, all checks passed\n', examples_run);

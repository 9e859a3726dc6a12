% build_vendral compiles the module from the source tree with Octave's own
% mex into a fresh folder; that module gives the same labels as the CMake
% build, and help works beside it.
1;
addpath (fullfile (fileparts (mfilename ('fullpath')), 'testing'));
[build_dir, source_dir, scratch] = test_folders ();
addpath (fullfile (source_dir, 'octave', 'inst'));
output_dir = fullfile (scratch, 'module');

tic;
[module, compiled] = build_vendral (output_dir);
printf ('build_vendral took %.1f s\n', toc);

% Every source gets exactly the options the package's Makefile gives it, as
% the CMake lists wrote them (build/octave/source_flags.mk): the builds
% cannot drift apart.
makefile_flags = fileread (fullfile (build_dir, 'octave', 'source_flags.mk'));
common = regexp (makefile_flags, '^MODULE_FLAGS := -I\. ([^\n]*)$', 'tokens', 'once', 'lineanchors');
expect (~isempty (common), 'no MODULE_FLAGS in source_flags.mk:\n%s', makefile_flags);
expected_sources = [dir(fullfile (source_dir, 'host', '*.cpp')); ...
                    dir(fullfile (source_dir, 'classifier', '*.cpp')); ...
                    dir(fullfile (source_dir, 'classifier', '*', '*.cpp'))];
expect_equal (numel (compiled), numel (expected_sources), 'sources compiled by build_vendral');
for k = 1:numel (compiled)
  wanted = strsplit (common{1});
  own = regexp (makefile_flags, ['^FLAGS_' regexptranslate('escape', compiled(k).source) ...
                                 ' := ([^\n]*)$'], 'tokens', 'once', 'lineanchors');
  if ~isempty (own)
    wanted = [wanted, strsplit(own{1})];
  end
  expect_equal (strjoin (compiled(k).flags, ' '), strjoin (wanted, ' '), ...
                ['options of ' compiled(k).source ', build_vendral against the package']);
end
expect (any (cellfun (@(f) any (strcmp (f, '-fno-math-errno')), {compiled.flags})), ...
        'no source compiled with its own options');
expect (~all (cellfun (@(f) any (strcmp (f, '-fno-math-errno')), {compiled.flags})), ...
        'a source''s own options given to every source');
expect_equal (module, fullfile (output_dir, 'vendral.mex'), 'module returned');
expect (exist (module, 'file') ~= 0, 'no module at %s', module);
expect (exist (fullfile (output_dir, 'vendral.m'), 'file') == 2, 'help file not copied');
[status, exports] = system (sprintf ('bash "%s" "%s"', ...
                                     fullfile (source_dir, 'scripts', 'check_module_exports.sh'), module));
expect (status == 0, 'exports of the module built by build_vendral:\n%s', exports);

addpath (output_dir);
expect_equal (which ('vendral'), module, 'function found after addpath');
expect (~isempty (strfind (evalc ('help vendral'), 'Parzen-window (kernel) classification')), ...
        'help vendral beside the built module');

[X, y] = vendral_iris ();
cases = [0 2 0.5; 1 1 0.3; 2 Inf 0.2; 3 3 0.7];
built = cell (rows (cases), 1);
for k = 1:rows (cases)
  built{k} = vendral (X, y, cases(k, 1), cases(k, 2), cases(k, 3), X + 0.05, -1, 0);
end
expect_error ('unused = vendral (X, y, 4, 2, 0.5, X, -1, 0);', ...
              'vendral: VENDRAL: 3rd input argument (kernel_type) must be between  0 and 3.', ...
              'error text of the module built by build_vendral');

% Rebuilding over a loaded module replaces it cleanly.
build_vendral (output_dir, source_dir);
expect_equal (vendral (X, y, 0, 2, 0.5, X + 0.05, -1, 0), built{1}, 'labels after a rebuild');

% The same labels as the module built by CMake.
rmpath (output_dir);
addpath (build_dir);
clear -f vendral
expect_equal (which ('vendral'), fullfile (build_dir, 'vendral.mex'), 'CMake module on the path');
for k = 1:rows (cases)
  expect_equal (built{k}, vendral (X, y, cases(k, 1), cases(k, 2), cases(k, 3), X + 0.05, -1, 0), ...
                sprintf ('labels of case %d, build_vendral against CMake', k));
end

% A folder without sources is refused with a clear message.
expect_error ('build_vendral (output_dir, scratch);', ...
              sprintf ('build_vendral: %s holds no vendral sources (host/mex_entry.cpp)', scratch), ...
              'build_vendral without sources');
printf ('octave_build_vendral: all checks passed\n');

% The package written by `cmake --build build --target octave-package`
% installs into a scratch prefix (pkg install -local compiles the module with
% mkoctfile --mex), loads, classifies from another folder with help beside
% the module, and uninstalls without touching the system's package lists.
1;
function text = read_if_present (file)
  text = '';
  if exist (file, 'file')
    text = fileread (file);
  end
end

addpath (fullfile (fileparts (mfilename ('fullpath')), 'testing'));
[build_dir, source_dir, scratch] = test_folders ();

project = fileread (fullfile (source_dir, 'CMakeLists.txt'));
version = regexp (project, 'project\s*\(\s*vendral\s+VERSION\s+([0-9.]+)', 'tokens', 'once');
expect (~isempty (version), 'no project version in CMakeLists.txt');
tarball = fullfile (build_dir, sprintf ('vendral-%s.tar.gz', version{1}));
expect (exist (tarball, 'file') == 2, 'no package at %s', tarball);

% Everything pkg writes goes below the scratch folder.
global_list = pkg ('global_list');
user_list = pkg ('local_list');
global_before = read_if_present (global_list);
user_before = read_if_present (user_list);
prefix = fullfile (scratch, 'packages');
pkg ('prefix', prefix, prefix);
pkg ('local_list', fullfile (scratch, 'octave_packages'));

% The package compiles every host/ and classifier/ source of the tree with
% the module's flags and the per-file options of the CMake build (make -n
% prints the commands pkg install will run), and links them with threads.
unpacked = fullfile (scratch, 'unpacked');
untar (tarball, unpacked);
package_src = fullfile (unpacked, sprintf ('vendral-%s', version{1}), 'src');
[status, commands] = system (sprintf ('make -n -C "%s" MKOCTFILE=mkoctfile', package_src));
expect (status == 0, 'make -n in the package failed:\n%s', commands);
commands = strsplit (commands, "\n");
per_file = {};
if exist (fullfile (package_src, 'source_flags.mk'), 'file')
  per_file = regexp (fileread (fullfile (package_src, 'source_flags.mk')), ...
                     'FLAGS_(\S+) := ([^\n]*)', 'tokens');
end
expect (~isempty (per_file), 'the package carries no per-file options of the CMake build');
for folder = {'host', 'classifier'}
  sources = dir (fullfile (source_dir, folder{1}, '*.cpp'));
  for k = 1:numel (sources)
    source = [folder{1} '/' sources(k).name];
    line = commands(~cellfun (@isempty, regexp (commands, [' ' regexptranslate('escape', source) '$'])));
    expect (numel (line) == 1, 'the package does not compile %s', source);
    wanted = {'mkoctfile --mex -c -o ', '-DVENDRAL_USE_HOST_MEX_H', '-std=c++17', ...
              '-ffp-contract=off', '-fno-fast-math', '-pthread', '-fvisibility=hidden', ...
              '-fvisibility-inlines-hidden'};
    for f = 1:numel (per_file)
      if strcmp (per_file{f}{1}, source)
        wanted{end + 1} = per_file{f}{2};
      end
    end
    for w = 1:numel (wanted)
      expect (~isempty (strfind (line{1}, wanted{w})), 'the package compiles %s without %s:\n%s', ...
              source, wanted{w}, line{1});
    end
  end
end
link = commands(~cellfun (@isempty, strfind (commands, '-o vendral.mex ')));
expect (numel (link) == 1 && ~isempty (strfind (link{1}, '--mex -o vendral.mex -pthread')), ...
        'the package does not link vendral.mex with threads');
expect (~isempty (strfind (link{1}, ' -Wl,--version-script=host/exports.map ')), ...
        'the package does not link vendral.mex with its version script:\n%s', link{1});

tic;
pkg ('install', '-local', tarball);
printf ('pkg install took %.1f s\n', toc);

installed = pkg ('list', 'vendral');
expect (numel (installed) == 1, 'vendral not listed after install');
expect_equal (installed{1}.version, version{1}, 'installed version');
install_dir = installed{1}.dir;
expect (strncmp (install_dir, prefix, numel (prefix)), 'installed to %s, not below %s', ...
        install_dir, prefix);

% Loaded, it works from any folder: no path to the build or source tree.
cd (scratch);
pkg load vendral
module = which ('vendral');
expect_equal (module, fullfile (install_dir, 'vendral.mex'), 'module beside the help file');
[status, exports] = system (sprintf ('bash "%s" "%s"', ...
                                     fullfile (source_dir, 'scripts', 'check_module_exports.sh'), module));
expect (status == 0, 'exports of the installed module:\n%s', exports);
help_text = evalc ('help vendral');
expect (~isempty (strfind (help_text, 'labels = vendral (Templates, NLabels, kernel_type, norm_type, h, ...')), ...
        'help vendral after pkg load:\n%s', help_text);
[X, y] = vendral_iris ();
expect_equal (size (X), [150 4], 'Iris data from the package');
package_labels = vendral (X, y, 0, 2, 0.5, X, -1, 0);
expect (mean (package_labels == y) > 0.95, 'Iris resubstitution accuracy %.3f', ...
        mean (package_labels == y));
expect_error ('unused = vendral (X, y, 0, 0.5, 0.5, X, -1, 0);', ...
              'vendral: VENDRAL: 4th input argument (norm_type) must be greater or equal to 1.0.', ...
              'error text from the installed module');
for name = {'vendral_select_h', 'vendral_demo', 'vendral_parallel', 'vendral_iris', 'build_vendral'}
  expect (exist (name{1}, 'file') == 2, '%s missing from the package', name{1});
end
build_help = evalc ('help build_vendral');
expect (~isempty (strfind (build_help, 'build_vendral (output_dir, source_dir)')), ...
        'help build_vendral after pkg load:\n%s', build_help);

% The guide that help vendral points to, and the licence, are in the package.
expect (~isempty (strfind (help_text, 'doc/README.md in the package''s folder')), ...
        'help vendral does not point to the installed guide');
expect_equal (fileread (fullfile (install_dir, 'doc', 'README.md')), ...
              fileread (fullfile (source_dir, 'README.md')), 'doc/README.md of the package');
for linked = regexp (fileread (fullfile (source_dir, 'README.md')), '\]\((docs/[^)#]+)', 'tokens')
  expect (exist (fullfile (install_dir, 'doc', linked{1}{1}), 'file') == 2, ...
          'the guide links to %s, which the package lacks', linked{1}{1});
end
expect_equal (fileread (fullfile (install_dir, 'packinfo', 'COPYING')), ...
              fileread (fullfile (source_dir, 'LICENSE')), 'COPYING of the package');
description = fileread (fullfile (install_dir, 'packinfo', 'DESCRIPTION'));
expect (~isempty (regexp (description, '^License: BSD-3-Clause$', 'once', 'lineanchors')), ...
        'DESCRIPTION without License: BSD-3-Clause:\n%s', description);
best_h = vendral_select_h (X, y, [0.1 0.5 1], 'folds', 3);
expect (any (best_h == [0.1 0.5 1]), 'vendral_select_h from the package');

pkg unload vendral
expect (exist ('vendral') == 0, 'vendral still reachable after pkg unload');
pkg ('uninstall', '-local', 'vendral');
expect (isempty (pkg ('list', 'vendral')), 'vendral still listed after uninstall');
expect (~exist (install_dir, 'dir'), '%s left after uninstall', install_dir);

% The same labels as the module built by CMake.
addpath (build_dir);
expect_equal (package_labels, vendral (X, y, 0, 2, 0.5, X, -1, 0), ...
              'labels, package module against CMake module');

expect_equal (read_if_present (global_list), global_before, 'the global package list');
expect_equal (read_if_present (user_list), user_before, 'the user''s package list');
printf ('octave_package: all checks passed\n');

%BUILD_VENDRAL  Compile the vendral module with this environment's own mex.
%
%  build_vendral ()
%  build_vendral (output_dir)
%  build_vendral (output_dir, source_dir)
%  [module, compiled] = build_vendral (...)
%
%  Compiles every C++ source of the vendral source tree (the folders host/
%  and classifier/) into one module, vendral.<mexext> (vendral.mex in
%  Octave, vendral.mexa64 etc. in MATLAB), with the mex command of the
%  running Octave or MATLAB, so nothing else needs to be installed.
%
%    output_dir  folder for the module; default: the folder of this file.
%                The help file vendral.m is copied there too when missing,
%                so that "help vendral" works next to the module.
%    source_dir  the vendral source tree (the folder holding host/ and
%                classifier/); default: found by walking up from this file.
%    module      the full name of the built module.
%    compiled    one element per source: .source (e.g. 'host/arrays.cpp')
%                and .flags, the compiler options it was given.
%
%  Each source is compiled with the options of every other build of the
%  module, read from the source tree's cmake/compile_flags.cmake: C++17
%  against the host's mex.h, contraction of a*b+c into fused multiply-adds
%  and value-changing optimisations switched off so that the results do not
%  depend on the compiler, a source's own options (math functions free not
%  to set errno where the module never reads it), and threads. The module
%  exports mexFunction alone: its other names are compiled hidden, and in
%  Octave, except on macOS, a linker version script keeps out the rest.
%
%  build_vendral ships with the vendral package so that its help is at hand,
%  but it compiles from a source tree: give source_dir when calling it from
%  the installed package.
%
%  Example (from the top of the vendral source tree)
%    addpath (fullfile (pwd, 'octave', 'inst'));
%    build_vendral ();
%    labels = vendral ([0; 1], [1; 2], 0, 2, 1, [0.2; 0.9], -1, 0)
%
%  See also vendral, mex.

function [module, compiled] = build_vendral (output_dir, source_dir)
  here = fileparts (mfilename ('fullpath'));
  if nargin < 1 || isempty (output_dir)
    output_dir = here;
  end
  if nargin < 2 || isempty (source_dir)
    source_dir = find_source_tree (here);
  end
  if ~exist (fullfile (source_dir, 'host', 'mex_entry.cpp'), 'file')
    error ('build_vendral:noSources', ...
           'build_vendral: %s holds no vendral sources (host/mex_entry.cpp)', ...
           source_dir);
  end
  if ~exist (output_dir, 'dir')
    mkdir (output_dir);
  end

  sources = [list_sources(source_dir, 'host'), ...
             list_sources(source_dir, 'classifier')];
  flags = read_compile_flags (source_dir);
  module = fullfile (output_dir, ['vendral.' mexext()]);

  % A loaded module must be released before its file is replaced; an old
  % file must not pass for the result of a failed build.
  if is_octave ()
    clear ('-f', 'vendral');
  else
    clear ('vendral');
  end
  if exist (module, 'file')
    delete (module);
  end

  object_dir = tempname ();
  mkdir (object_dir);
  remove_objects = onCleanup (@() confirm_and_remove (object_dir));
  compiled = struct ('source', sources, 'flags', {{}});
  objects = cell (size (sources));
  for k = 1:numel (sources)
    compiled(k).flags = [flags.common, own_flags(flags, sources{k})];
    objects{k} = compile_source (source_dir, sources{k}, compiled(k).flags, object_dir, k);
  end
  link_module (module, output_dir, objects, fullfile (source_dir, flags.exports_script));
  if ~exist (module, 'file')
    error ('build_vendral:failed', 'build_vendral: %s was not built', module);
  end

  help_file = fullfile (output_dir, 'vendral.m');
  if ~exist (help_file, 'file') && exist (fullfile (here, 'vendral.m'), 'file')
    copyfile (fullfile (here, 'vendral.m'), help_file);
  end
  rehash ();
end

function yes = is_octave ()
  yes = exist ('OCTAVE_VERSION', 'builtin') > 0;
end

% The source list is read from the tree, so new files need no edit here;
% sources are named as the CMake lists name them ('host/arrays.cpp',
% 'classifier/tree/template_tree.cpp'): a folder's own, then its
% subfolders' (one level down).
function sources = list_sources (source_dir, folder)
  listing = dir (fullfile (source_dir, folder, '*.cpp'));
  names = sort ({listing.name});
  sources = cellfun (@(name) [folder '/' name], names, 'UniformOutput', false);
  entries = dir (fullfile (source_dir, folder));
  subfolders = sort ({entries([entries.isdir] & ~strncmp ({entries.name}, '.', 1)).name});
  for k = 1:numel (subfolders)
    listing = dir (fullfile (source_dir, folder, subfolders{k}, '*.cpp'));
    names = sort ({listing.name});
    sources = [sources, cellfun(@(name) [folder '/' subfolders{k} '/' name], names, ...
                                'UniformOutput', false)];
  end
end

% The options in cmake/compile_flags.cmake, one set(NAME values) per line:
% .common for every source, .by_source the VENDRAL_FLAGS_<source> lines.
function flags = read_compile_flags (source_dir)
  file = fullfile (source_dir, 'cmake', 'compile_flags.cmake');
  if ~exist (file, 'file')
    error ('build_vendral:noSources', 'build_vendral: %s is missing', file);
  end
  settings = regexp (fileread (file), '^set\((VENDRAL_[\w/.+-]+)\s+([^)]*)\)', ...
                     'tokens', 'lineanchors');
  values = containers.Map ();
  for k = 1:numel (settings)
    values(settings{k}{1}) = strsplit (strtrim (settings{k}{2}));
  end
  for name = {'VENDRAL_HOST_MEX_FLAGS', 'VENDRAL_MODULE_FLAGS', 'VENDRAL_VISIBILITY_FLAGS', ...
              'VENDRAL_EXPORTS_SCRIPT'}
    if ~isKey (values, name{1})
      error ('build_vendral:flags', 'build_vendral: %s sets no %s', file, name{1});
    end
  end
  % Warnings change no result and are for the developers' CMake builds.
  flags.common = [values('VENDRAL_HOST_MEX_FLAGS'), values('VENDRAL_MODULE_FLAGS'), ...
                  values('VENDRAL_VISIBILITY_FLAGS')];
  script = values('VENDRAL_EXPORTS_SCRIPT');
  flags.exports_script = script{1};
  flags.by_source = values;
end

function options = own_flags (flags, source)
  options = {};
  if isKey (flags.by_source, ['VENDRAL_FLAGS_' source])
    options = flags.by_source(['VENDRAL_FLAGS_' source]);
  end
end

function object = compile_source (source_dir, source, flags, object_dir, number)
  [~, name] = fileparts (source);
  path = fullfile (source_dir, source);
  if is_octave ()
    object = fullfile (object_dir, sprintf ('%02d_%s.o', number, name));
    % -o first: Octave 7's mkoctfile silently builds nothing when unknown
    % compiler options come before the sources and -o after them.
    mkoctfile ('--mex', '-c', '-o', object, ['-I' source_dir], flags{:}, path);
  else
    definitions = flags(strncmp (flags, '-D', 2));
    mex ('-c', definitions{:}, ['-I' source_dir], matlab_compiler_flags (flags), ...
         '-outdir', object_dir, path);
    listing = dir (fullfile (object_dir, [name '.o*']));
    object = fullfile (object_dir, listing(1).name);
  end
end

% MATLAB's mex links with a version script of its own; macOS's linker takes
% none.
function link_module (module, output_dir, objects, exports_script)
  if is_octave ()
    exports = {};
    if ~ismac ()
      exports = {['-Wl,--version-script=' exports_script]};
    end
    mkoctfile ('--mex', '-o', module, '-pthread', exports{:}, objects{:});
  else
    mex (objects{:}, 'LDFLAGS=$LDFLAGS -pthread', '-outdir', output_dir, '-output', 'vendral');
  end
end

function confirm_and_remove (folder)
  if exist (folder, 'dir')
    if is_octave ()
      confirm_recursive_rmdir (false, 'local');
    end
    rmdir (folder, 's');
  end
end

function source_dir = find_source_tree (start)
  source_dir = start;
  for level = 1:4
    if exist (fullfile (source_dir, 'host', 'mex_entry.cpp'), 'file')
      return;
    end
    source_dir = fileparts (source_dir);
  end
  error ('build_vendral:noSources', ...
         ['build_vendral: no vendral source tree above %s; ' ...
          'give it as the second argument'], start);
end

% MATLAB's mex takes compiler options as variable assignments; Microsoft's
% compiler has its own spelling of them.
function assignment = matlab_compiler_flags (flags)
  compiler = mex.getCompilerConfigurations ('C++', 'Selected');
  if ~isempty (compiler) && strncmpi (compiler(1).Manufacturer, 'Microsoft', 9)
    assignment = 'COMPFLAGS=$COMPFLAGS /std:c++17 /fp:precise';
  else
    options = flags(~strncmp (flags, '-D', 2));
    assignment = ['CXXFLAGS=$CXXFLAGS ' strjoin(options, ' ')];
  end
end

%BUILD_VENDRAL  Compile the vendral module with this environment's own mex.
%
%  build_vendral ()
%  build_vendral (output_dir)
%  build_vendral (output_dir, source_dir)
%  module = build_vendral (...)
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
%
%  The sources are compiled as C++17 against the host's mex.h, with
%  contraction of a*b+c into fused multiply-adds and value-changing
%  optimisations switched off so that the results do not depend on the
%  compiler, math functions free not to set errno (the module never reads
%  it), and linked with threads.
%
%  Example (from the top of the vendral source tree)
%    addpath (fullfile (pwd, 'octave', 'inst'));
%    build_vendral ();
%    labels = vendral ([0; 1], [1; 2], 0, 2, 1, [0.2; 0.9], -1, 0)
%
%  See also vendral, mex.

function module = build_vendral (output_dir, source_dir)
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
  if is_octave ()
    % -o first: Octave 7's mkoctfile silently builds nothing when unknown
    % compiler options come before the sources and -o after them.
    mex ('-o', module, '-DVENDRAL_USE_HOST_MEX_H', ['-I' source_dir], '-std=c++17', ...
         '-ffp-contract=off', '-fno-fast-math', '-fno-math-errno', '-pthread', ...
         '-Wno-psabi', sources{:});
  else
    flags = matlab_flags ();
    mex ('-DVENDRAL_USE_HOST_MEX_H', ['-I' source_dir], flags{:}, ...
         '-outdir', output_dir, '-output', 'vendral', sources{:});
  end
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

% The source list is read from the tree, so new files need no edit here.
function sources = list_sources (source_dir, folder)
  listing = dir (fullfile (source_dir, folder, '*.cpp'));
  names = sort ({listing.name});
  sources = cellfun (@(name) fullfile (source_dir, folder, name), names, ...
                     'UniformOutput', false);
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

% MATLAB's mex takes compiler flags as variable assignments.
function flags = matlab_flags ()
  compiler = mex.getCompilerConfigurations ('C++', 'Selected');
  if ~isempty (compiler) && strncmpi (compiler(1).Manufacturer, 'Microsoft', 9)
    flags = {'COMPFLAGS=$COMPFLAGS /std:c++17 /fp:precise'};
  else
    flags = {['CXXFLAGS=$CXXFLAGS -std=c++17 -ffp-contract=off -fno-fast-math ', ...
              '-fno-math-errno -pthread -Wno-psabi'], ...
             'LDFLAGS=$LDFLAGS -pthread'};
  end
end

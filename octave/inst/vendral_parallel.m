%VENDRAL_PARALLEL  vendral with the test patterns split over parallel workers.
%
%  labels = vendral_parallel (Templates, NLabels, kernel_type, norm_type, ...
%                             h, Patterns, unknown_label, oflag)
%  labels = vendral_parallel (..., oflag, pool)
%  [labels, counts] = vendral_parallel (...)
%
%  Takes the eight arguments of vendral and gives exactly the labels of one
%  vendral call: every test pattern is classified on its own, so the rows of
%  Patterns are split into contiguous blocks, each block is classified by
%  vendral in a worker, and the blocks' labels are joined in order.  Needs
%  Octave's parallel package (Debian: octave-parallel), which this function
%  loads when it is installed.
%
%    pool  where the workers run:
%          n (a whole number >= 1)  n local worker processes started by
%                                   parcellfun (it uses at most one per
%                                   processor core); default nproc ().
%          connections              the servers of a cluster, as returned by
%                                   pconnect; the blocks go out by
%                                   netcellfun, one per server core.  Every
%                                   server needs vendral: installed as a
%                                   package there (it is loaded on demand) or
%                                   on the path of the server session.
%
%  Console output follows oflag as for one vendral call: at oflag 2 and 3 the
%  per-pattern lines of all blocks, numbered over the whole of Patterns, and
%  at oflag >= 1 one performance summary with the summed counts.  Its
%  seconds are the whole seconds the parallel run took.
%
%  counts is a structure with the summed figures of all blocks: patterns
%  (P), classes (classes of NLabels), unclassified, flops, comparisons,
%  seconds (as printed) and blocks (how many vendral calls ran).
%
%  Errors in the arguments raise exactly the error one vendral call raises,
%  before any worker starts.
%
%  vendral itself already classifies on every processor core, so local
%  workers are no faster than one vendral call on the same machine (they
%  are there to try a set-up out); vendral_parallel pays off on a cluster,
%  where each server adds its own cores.
%
%  Example (two local worker processes)
%    [X, y] = vendral_iris ();
%    labels = vendral_parallel (X, y, 0, 2, 0.5, X, -1, 1, 2);
%    isequal (labels, vendral (X, y, 0, 2, 0.5, X, -1, 0))
%
%  Example (a cluster of the servers node1 and node2, each started with
%  /usr/libexec/octave-pserver --octave-binary /usr/bin/octave-cli --no-auth
%  and holding the vendral package; see the user's guide, section "A cluster
%  of machines".  Debian's parallel package is built without TLS, hence
%  use_tls false.)
%    pkg load parallel
%    pool = pconnect ({'node1', 'node2'}, struct ('use_tls', false));
%    [X, y] = vendral_iris ();
%    labels = vendral_parallel (X, y, 0, 2, 0.5, X, -1, 1, pool);
%    sclose (pool);
%
%  See also vendral, parcellfun, netcellfun, pconnect.

function [labels, counts] = vendral_parallel (varargin)
  if nargin < 8 || nargin > 9
    error ('vendral_parallel:usage', ...
           ['vendral_parallel: usage: labels = vendral_parallel (Templates, ', ...
            'NLabels, kernel_type, norm_type, h, Patterns, unknown_label, ', ...
            'oflag, pool)']);
  end
  args = varargin(1:8);
  if nargin == 9
    pool = varargin{9};
  else
    pool = nproc ();
  end
  check_like_one_call (args, nargout);
  load_parallel_package ();

  [Templates, NLabels, kernel_type, norm_type, h, Patterns, unknown_label, ...
   oflag] = args{:};
  P = rows (Patterns);
  verbosity = fix (double (oflag(1)));

  started = tic ();
  blocks = split_rows (Patterns, block_count (pool, P));
  % The workers always print the summary: it carries the counts.
  worker = @(rows) vendral_parallel_chunk (Templates, NLabels, kernel_type, ...
                                           norm_type, h, rows, unknown_label, ...
                                           max (verbosity, 1));
  if is_cluster (pool)
    prepare_servers (pool);
    [block_labels, block_console] = netcellfun (pool, worker, blocks, ...
                                                'UniformOutput', false);
  else
    [block_labels, block_console] = parcellfun (pool, worker, blocks, ...
                                                'UniformOutput', false, ...
                                                'VerboseLevel', 0);
  end
  labels = vertcat (zeros (0, 1), block_labels{:});
  seconds = floor (toc (started));

  [counts, pattern_lines, heading] = sum_blocks (block_console, blocks);
  counts.patterns = P;
  counts.seconds = seconds;
  counts.blocks = numel (blocks);
  print_like_one_call (verbosity, counts, pattern_lines, heading);
end

% Raises exactly what one vendral call would raise for these arguments,
% without classifying anything: a call on no patterns checks every argument
% but Patterns; when that call or the shape of Patterns fails, the call on
% the real arguments fails at its checks, before any work.
function check_like_one_call (args, nargout_of_caller)
  Templates = args{1};
  Patterns = args{6};
  columns = 0;
  if ndims (Templates) == 2
    columns = size (Templates, 2);
  end
  probe = args;
  probe{6} = zeros (0, columns);
  probe_passed = true;
  try
    evalc ('unused = vendral (probe{:});');
  catch
    probe_passed = false;
  end
  patterns_pass = isa (Patterns, 'double') && ~issparse (Patterns) && ...
                  ndims (Patterns) == 2 && size (Patterns, 2) == columns;
  if ~probe_passed || ~patterns_pass
    unused = vendral (args{:}); %#ok<NASGU>
    error ('vendral_parallel:check', ...
           'vendral_parallel: the arguments passed a single call unexpectedly');
  end
  if nargout_of_caller == 0
    vendral (args{:});  % raises the module's "output argument required"
  end
end

function load_parallel_package ()
  if ~exist ('parcellfun', 'file')
    try
      pkg ('load', 'parallel');
    catch
      error ('vendral_parallel:noParallel', ...
             ['vendral_parallel: needs the Octave package "parallel" ', ...
              '(Debian: apt-get install octave-parallel)']);
    end
  end
end

function yes = is_cluster (pool)
  yes = isa (pool, 'pconnections');
end

function count = block_count (pool, P)
  if is_cluster (pool)
    info = network_get_info (pool);
    info = info(~[info.local_machine]);
    if isempty (info)
      error ('vendral_parallel:pool', ...
             'vendral_parallel: the connections hold no servers');
    end
    per_server = [info.nlocaljobs];
    per_server(per_server == 0) = [info(per_server == 0).nproc];
    count = sum (per_server);
  else
    if ~(isnumeric (pool) && isscalar (pool) && pool >= 1 && pool == fix (pool))
      error ('vendral_parallel:pool', ...
             ['vendral_parallel: pool must be a whole number of workers ', ...
              '>= 1 or connections from pconnect']);
    end
    count = min (pool, nproc ());
  end
  count = max (1, min (count, P));
end

% Contiguous blocks of nearly equal size, in order; one empty block when
% there are no patterns, so that the summary still comes from the module.
function blocks = split_rows (Patterns, count)
  P = rows (Patterns);
  edges = round (linspace (0, P, count + 1));
  blocks = cell (count, 1);
  for k = 1:count
    blocks{k} = Patterns(edges(k) + 1:edges(k + 1), :);
  end
end

% Servers load the vendral package unless its functions are already there.
function prepare_servers (pool)
  reval (['if (! exist ("vendral_parallel_chunk", "file")) ', ...
          'pkg ("load", "vendral"); end'], pool);
end

% Reads each block's console output: the per-pattern lines (renumbered over
% the whole of Patterns) and the counts of its summary.
function [counts, pattern_lines, heading] = sum_blocks (consoles, blocks)
  counts = struct ('patterns', 0, 'classes', 0, 'unclassified', 0, ...
                   'flops', 0, 'comparisons', 0, 'seconds', 0, 'blocks', 0);
  pattern_lines = {};
  heading = '';
  offset = 0;
  for k = 1:numel (consoles)
    text = consoles{k};
    lines = strsplit (text, "\n");
    for j = 1:numel (lines)
      line = lines{j};
      number = sscanf (line, '   Pattern #%d');
      if ~isempty (number)
        pattern_lines{end + 1} = regexprep (line, '#\d+', ...
                                            sprintf ('#%d', number + offset)); %#ok<AGROW>
      elseif ~isempty (strfind (line, 'Parzen classifier performance summary'))
        heading = line;
      end
    end
    counts.classes = read_count (text, 'belonging to (\d+) classes');
    counts.unclassified += read_count (text, 'unable to classify (\d+) patterns');
    counts.flops += read_count (text, '(\d+) FLOPs and');
    counts.comparisons += read_count (text, 'and (\d+) comparisons');
    offset += rows (blocks{k});
  end
end

function value = read_count (text, pattern)
  token = regexp (text, pattern, 'tokens', 'once');
  if isempty (token)
    value = 0;
  else
    value = str2double (token{1});
  end
end

% The same lines, in the same order and format, as one vendral call prints.
function print_like_one_call (verbosity, counts, pattern_lines, heading)
  if verbosity >= 2
    printf ("\nReference pattern set consists of %d classes.\n\n", counts.classes);
    printf ("\nList presentation of %d patterns:\n", counts.patterns);
    if ~isempty (pattern_lines)
      printf ("%s\n", pattern_lines{:});
    end
  end
  if verbosity >= 1
    printf ("\n%s\n", heading);
    printf ("Test set contained %d test patterns belonging to %d classes\n", ...
            counts.patterns, counts.classes);
    if counts.unclassified ~= 0
      printf ("unable to classify %d patterns ", counts.unclassified);
      printf ("(%f%%)\n", 100.0 * counts.unclassified / counts.patterns);
    end
    printf ("%d FLOPs and %d comparisons in %d seconds\n\n", ...
            counts.flops, counts.comparisons, counts.seconds);
  end
end
